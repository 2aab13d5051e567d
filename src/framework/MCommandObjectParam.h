// The typed parameters a command object carries. Each parameter owns a copy of its value, except the
// Void parameter, which only carries the pointer (and a size) it was given.
//
// type  class                            data                                     size
//  1    MCommandObjectBYTEParam          one unsigned byte                         1
//  2    MCommandObjectCharParam          one char                                  1
//  3    MCommandObjectIntParam           signed 32-bit                             4
//  4    MCommandObjectWORDParam          unsigned 16-bit                           2
//  5    MCommandObjectDWORDParam         unsigned 32-bit                           4
//  6    MCommandObjectFloatParam         double                                    8
//  7    MCommandObjectCharBufferParam    copy of a NUL-terminated text (none: null) length + 1 (0 for none)
//  8    MCommandObjectBYTEBufferParam    copy of a byte block                      the block's length
//  9    MCommandObjectVoidParam          the pointer itself, neither copied nor freed   as given
#pragma once

#include <cstdint>

enum MCommandParamType : int {
    kParamBYTE = 1,
    kParamChar = 2,
    kParamInt = 3,
    kParamWORD = 4,
    kParamDWORD = 5,
    kParamFloat = 6,
    kParamCharBuffer = 7,
    kParamBYTEBuffer = 8,
    kParamVoid = 9,
};

class MCommandObjectParam {
public:
    virtual ~MCommandObjectParam() = default;
    virtual int GetType() const = 0;
    virtual const void* GetData() const = 0;
    virtual int GetSize() const = 0;
    virtual const char* GetName() const = 0;
    // A hook for derived parameters; does nothing here.
    virtual void OnChanged() {}
};

class MCommandObjectParamBase : public MCommandObjectParam {
public:
    ~MCommandObjectParamBase() override;
    MCommandObjectParamBase(const MCommandObjectParamBase&) = delete;
    MCommandObjectParamBase& operator=(const MCommandObjectParamBase&) = delete;

    int GetType() const override { return type_; }
    const void* GetData() const override { return data_; }
    int GetSize() const override { return size_; }
    const char* GetName() const override { return name_; }
    // Copies type and name, not the data (the size stays that of this parameter's own data).
    virtual void AssignBase(const MCommandObjectParamBase& other);

    // A new parameter of the same type holding a copy of `other`; null for an unknown type.
    static MCommandObjectParamBase* Clone(const MCommandObjectParamBase& other);

protected:
    MCommandObjectParamBase(int type, const char* name);
    // Replaces the data with a copy of `size` bytes (none when `bytes` is null or size ≤ 0).
    void SetOwnedData(const void* bytes, int size);
    // Replaces the data with a pointer that is not owned.
    void SetForeignData(void* pointer, int size);
    void CopyFrom(const MCommandObjectParamBase& other);

private:
    void FreeData();
    void SetName(const char* name);

    int type_;
    void* data_ = nullptr;
    int size_ = 0;
    char* name_ = nullptr;
    bool ownsData_ = false;
};

class MCommandObjectBYTEParam : public MCommandObjectParamBase {
public:
    explicit MCommandObjectBYTEParam(uint8_t value, const char* name = nullptr);
    void Assign(const MCommandObjectBYTEParam& other) { CopyFrom(other); }
};

class MCommandObjectCharParam : public MCommandObjectParamBase {
public:
    explicit MCommandObjectCharParam(char value, const char* name = nullptr);
    void Assign(const MCommandObjectCharParam& other) { CopyFrom(other); }
};

class MCommandObjectIntParam : public MCommandObjectParamBase {
public:
    explicit MCommandObjectIntParam(int32_t value, const char* name = nullptr);
    void Assign(const MCommandObjectIntParam& other) { CopyFrom(other); }
};

class MCommandObjectWORDParam : public MCommandObjectParamBase {
public:
    explicit MCommandObjectWORDParam(uint16_t value, const char* name = nullptr);
    void Assign(const MCommandObjectWORDParam& other) { CopyFrom(other); }
};

class MCommandObjectDWORDParam : public MCommandObjectParamBase {
public:
    explicit MCommandObjectDWORDParam(uint32_t value, const char* name = nullptr);
    void Assign(const MCommandObjectDWORDParam& other) { CopyFrom(other); }
};

class MCommandObjectFloatParam : public MCommandObjectParamBase {
public:
    explicit MCommandObjectFloatParam(double value, const char* name = nullptr);
    void Assign(const MCommandObjectFloatParam& other) { CopyFrom(other); }
};

class MCommandObjectCharBufferParam : public MCommandObjectParamBase {
public:
    explicit MCommandObjectCharBufferParam(const char* text, const char* name = nullptr);
    void Assign(const MCommandObjectCharBufferParam& other) { CopyFrom(other); }
};

class MCommandObjectBYTEBufferParam : public MCommandObjectParamBase {
public:
    // A null block or a length ≤ 0 gives an empty parameter (no data, size 0).
    MCommandObjectBYTEBufferParam(const void* bytes, int length, const char* name = nullptr);
    void Assign(const MCommandObjectBYTEBufferParam& other) { CopyFrom(other); }
};

class MCommandObjectVoidParam : public MCommandObjectParamBase {
public:
    MCommandObjectVoidParam(void* pointer, int size, const char* name = nullptr);
    void Assign(const MCommandObjectVoidParam& other) { CopyFrom(other); }
};
