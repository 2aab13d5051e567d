// One device command on its way from the host's thread to the device's worker: code, sub-code, time-out,
// typed parameters (owned) and an optional label. A command given an ILockable locks it with its user
// value for its whole life (from construction to destruction).
#pragma once

#include <cstdint>

#include "framework/ILockable.h"
#include "framework/MCommandObjectParam.h"

class MCommandObject {
public:
    static constexpr int kDefaultCapacity = 8;

    MCommandObject(void* owner, int code, int subCode, ILockable* lock = nullptr, int userValue = 0);
    MCommandObject(void* owner, int code, int subCode, const char* name, int capacity,
                   ILockable* lock = nullptr, int userValue = 0);
    // Copies owner, codes, name, capacity and every parameter; the copy has time-out 0, no attempts, no
    // lock and user value 0.
    MCommandObject(const MCommandObject& other);
    MCommandObject& operator=(const MCommandObject&) = delete;

    // Grows the parameter array to at least n slots, rounded up to a multiple of 8.
    virtual void Reserve(int n);
    // Sets every field afresh (time-out 0, no attempts, no parameters); parameters held before are
    // destroyed. The lock is only stored: locking belongs to construction.
    virtual void Init(void* owner, int code, int subCode, const char* name, int capacity, ILockable* lock,
                      int userValue);
    // Destroys every parameter, frees the array and the name.
    virtual void Clear();
    // Appends a copy of `param`; -1 for null or an unknown type.
    virtual int AddParamCopy(const MCommandObjectParamBase* param);
    // Appends `param`, which the command then owns; its index, or -1 for null.
    virtual int AddParam(MCommandObjectParamBase* param);
    virtual MCommandObjectParamBase* GetParam(int index) const;
    virtual ~MCommandObject();
    virtual void SetName(const char* name);
    // The label, or an empty text.
    virtual const char* GetName() const;
    virtual void* GetOwner() const { return owner_; }
    virtual int GetCode() const { return code_; }
    virtual int GetSubCode() const { return subCode_; }
    virtual int GetTimeout() const { return timeout_; }
    virtual void SetTimeout(int milliseconds) { timeout_ = milliseconds; }
    // Counts one more time-out; returns the new count.
    virtual int AddAttempt() { return ++attempts_; }
    virtual int GetParamCount() const { return count_; }
    virtual int AddVoidParam(void* pointer, int size, const char* paramName = nullptr);
    virtual int AddBYTEBufferParam(const void* bytes, int length, const char* paramName = nullptr);
    virtual int AddCharBufferParam(const char* text, const char* paramName = nullptr);
    virtual int AddFloatParam(double value, const char* paramName = nullptr);
    virtual int AddDWORDParam(uint32_t value, const char* paramName = nullptr);
    virtual int AddWORDParam(uint16_t value, const char* paramName = nullptr);
    virtual int AddIntParam(int32_t value, const char* paramName = nullptr);
    virtual int AddCharParam(char value, const char* paramName = nullptr);
    virtual int AddBYTEParam(uint8_t value, const char* paramName = nullptr);
    // 0 / null when the index is out of range.
    virtual int GetParamType(int index) const;
    virtual int GetParamSize(int index) const;
    virtual const char* GetParamName(int index) const;
    // The data with its size and type; null, size 0 and type 0 when the index is out of range.
    virtual const void* GetParamInfo(int index, int* size, int* type) const;
    // The value when the parameter exists, holds data and is of the matching type; 0 otherwise.
    virtual uint8_t GetBYTE(int index) const;
    virtual char GetChar(int index) const;
    virtual int32_t GetInt(int index) const;
    virtual uint16_t GetWORD(int index) const;
    virtual uint32_t GetDWORD(int index) const;
    virtual double GetFloat(int index) const;
    // The text, or null on a type mismatch.
    virtual const char* GetCharBuffer(int index) const;
    // The data and its size, or null on a type mismatch (the size then stays untouched).
    virtual const void* GetBYTEBuffer(int index, int* size) const;
    virtual const void* GetVoid(int index, int* size) const;
    virtual bool IsSame(const MCommandObject* other) const { return other == this; }
    // As the copy constructor, onto this object. This object keeps its own lock and user value, which
    // pair with the lock taken at its construction.
    virtual void Assign(const MCommandObject* other);

    int GetCapacity() const { return capacity_; }
    int GetAttempts() const { return attempts_; }

private:
    // The parameter's data when it is of `type` and holds at least `size` bytes.
    const void* TypedData(int index, int type, int size) const;
    void CopyParamsFrom(const MCommandObject& other);

    int code_ = 0;
    int subCode_ = 0;
    int timeout_ = 0;
    int userValue_ = 0;
    ILockable* lock_ = nullptr;
    char* name_ = nullptr;
    void* owner_ = nullptr;
    MCommandObjectParamBase** params_ = nullptr;
    int capacity_ = 0;
    int count_ = 0;
    int attempts_ = 0;
};
