#include "framework/MCommandObjectParam.h"

#include <cstring>

#include "framework/TextCopy.h"

MCommandObjectParamBase::MCommandObjectParamBase(int type, const char* name)
    : type_(type), name_(CopyText(name)) {}

MCommandObjectParamBase::~MCommandObjectParamBase() {
    FreeData();
    delete[] name_;
}

void MCommandObjectParamBase::FreeData() {
    if (ownsData_) delete[] static_cast<unsigned char*>(data_);
    data_ = nullptr;
    size_ = 0;
    ownsData_ = false;
}

void MCommandObjectParamBase::SetName(const char* name) {
    if (name == name_) return;
    char* copy = CopyText(name);
    delete[] name_;
    name_ = copy;
}

void MCommandObjectParamBase::SetOwnedData(const void* bytes, int size) {
    FreeData();
    if (bytes == nullptr || size <= 0) return;
    unsigned char* copy = new unsigned char[static_cast<size_t>(size)];
    std::memcpy(copy, bytes, static_cast<size_t>(size));
    data_ = copy;
    size_ = size;
    ownsData_ = true;
}

void MCommandObjectParamBase::SetForeignData(void* pointer, int size) {
    FreeData();
    data_ = pointer;
    size_ = size;
}

void MCommandObjectParamBase::AssignBase(const MCommandObjectParamBase& other) {
    if (&other == this) return;
    type_ = other.type_;
    // The size describes the data this parameter holds; taking another's size without its data would let
    // readers run past the block.
    SetName(other.name_);
}

void MCommandObjectParamBase::CopyFrom(const MCommandObjectParamBase& other) {
    if (&other == this) return;
    if (other.ownsData_) {
        SetOwnedData(other.data_, other.size_);
    } else {
        SetForeignData(other.data_, other.size_);
    }
    AssignBase(other);
    OnChanged();
}

MCommandObjectParamBase* MCommandObjectParamBase::Clone(const MCommandObjectParamBase& other) {
    MCommandObjectParamBase* copy = nullptr;
    switch (other.GetType()) {
        case kParamBYTE:
            copy = new MCommandObjectBYTEParam(0);
            break;
        case kParamChar:
            copy = new MCommandObjectCharParam(0);
            break;
        case kParamInt:
            copy = new MCommandObjectIntParam(0);
            break;
        case kParamWORD:
            copy = new MCommandObjectWORDParam(0);
            break;
        case kParamDWORD:
            copy = new MCommandObjectDWORDParam(0);
            break;
        case kParamFloat:
            copy = new MCommandObjectFloatParam(0.0);
            break;
        case kParamCharBuffer:
            copy = new MCommandObjectCharBufferParam(nullptr);
            break;
        case kParamBYTEBuffer:
            copy = new MCommandObjectBYTEBufferParam(nullptr, 0);
            break;
        case kParamVoid:
            copy = new MCommandObjectVoidParam(nullptr, 0);
            break;
        default:
            return nullptr;
    }
    copy->CopyFrom(other);
    return copy;
}

MCommandObjectBYTEParam::MCommandObjectBYTEParam(uint8_t value, const char* name)
    : MCommandObjectParamBase(kParamBYTE, name) {
    SetOwnedData(&value, sizeof value);
}

MCommandObjectCharParam::MCommandObjectCharParam(char value, const char* name)
    : MCommandObjectParamBase(kParamChar, name) {
    SetOwnedData(&value, sizeof value);
}

MCommandObjectIntParam::MCommandObjectIntParam(int32_t value, const char* name)
    : MCommandObjectParamBase(kParamInt, name) {
    SetOwnedData(&value, sizeof value);
}

MCommandObjectWORDParam::MCommandObjectWORDParam(uint16_t value, const char* name)
    : MCommandObjectParamBase(kParamWORD, name) {
    SetOwnedData(&value, sizeof value);
}

MCommandObjectDWORDParam::MCommandObjectDWORDParam(uint32_t value, const char* name)
    : MCommandObjectParamBase(kParamDWORD, name) {
    SetOwnedData(&value, sizeof value);
}

MCommandObjectFloatParam::MCommandObjectFloatParam(double value, const char* name)
    : MCommandObjectParamBase(kParamFloat, name) {
    SetOwnedData(&value, sizeof value);
}

MCommandObjectCharBufferParam::MCommandObjectCharBufferParam(const char* text, const char* name)
    : MCommandObjectParamBase(kParamCharBuffer, name) {
    if (text != nullptr) SetOwnedData(text, static_cast<int>(std::strlen(text) + 1));
}

MCommandObjectBYTEBufferParam::MCommandObjectBYTEBufferParam(const void* bytes, int length, const char* name)
    : MCommandObjectParamBase(kParamBYTEBuffer, name) {
    SetOwnedData(bytes, length);
}

MCommandObjectVoidParam::MCommandObjectVoidParam(void* pointer, int size, const char* name)
    : MCommandObjectParamBase(kParamVoid, name) {
    SetForeignData(pointer, size);
}
