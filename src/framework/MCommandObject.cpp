#include "framework/MCommandObject.h"

#include <cstring>

#include "framework/TextCopy.h"

MCommandObject::MCommandObject(void* owner, int code, int subCode, ILockable* lock, int userValue)
    : MCommandObject(owner, code, subCode, nullptr, kDefaultCapacity, lock, userValue) {}

MCommandObject::MCommandObject(void* owner, int code, int subCode, const char* name, int capacity,
                               ILockable* lock, int userValue) {
    Init(owner, code, subCode, name, capacity, lock, userValue);
    if (lock_ != nullptr) lock_->Lock(userValue_);
}

MCommandObject::MCommandObject(const MCommandObject& other) {
    Init(other.owner_, other.code_, other.subCode_, other.name_, other.capacity_, nullptr, 0);
    CopyParamsFrom(other);
}

MCommandObject::~MCommandObject() {
    if (lock_ != nullptr) lock_->Unlock(userValue_);
    Clear();
}

void MCommandObject::Init(void* owner, int code, int subCode, const char* name, int capacity, ILockable* lock,
                          int userValue) {
    Clear();
    owner_ = owner;
    code_ = code;
    subCode_ = subCode;
    name_ = CopyText(name);
    lock_ = lock;
    userValue_ = userValue;
    timeout_ = 0;
    attempts_ = 0;
    count_ = 0;
    capacity_ = capacity > 0 ? capacity : 0;
    params_ = new MCommandObjectParamBase*[static_cast<size_t>(capacity_)]();
}

void MCommandObject::Clear() {
    for (int i = 0; i < count_; ++i) delete params_[i];
    delete[] params_;
    params_ = nullptr;
    count_ = 0;
    capacity_ = 0;
    delete[] name_;
    name_ = nullptr;
}

void MCommandObject::Reserve(int n) {
    if (capacity_ >= n) return;
    const int rounded = (n + 7) / 8 * 8;
    MCommandObjectParamBase** grown = new MCommandObjectParamBase*[static_cast<size_t>(rounded)]();
    for (int i = 0; i < count_; ++i) grown[i] = params_[i];
    delete[] params_;
    params_ = grown;
    capacity_ = rounded;
}

int MCommandObject::AddParam(MCommandObjectParamBase* param) {
    if (param == nullptr) return -1;
    Reserve(count_ + 2);
    params_[count_] = param;
    return count_++;
}

int MCommandObject::AddParamCopy(const MCommandObjectParamBase* param) {
    if (param == nullptr) return -1;
    MCommandObjectParamBase* copy = MCommandObjectParamBase::Clone(*param);
    if (copy == nullptr) return -1;
    return AddParam(copy);
}

MCommandObjectParamBase* MCommandObject::GetParam(int index) const {
    if (index < 0 || index >= count_) return nullptr;
    return params_[index];
}

void MCommandObject::SetName(const char* name) {
    if (name == name_) return;
    char* copy = CopyText(name);
    delete[] name_;
    name_ = copy;
}

const char* MCommandObject::GetName() const {
    return name_ != nullptr ? name_ : "";
}

int MCommandObject::AddVoidParam(void* pointer, int size, const char* paramName) {
    return AddParam(new MCommandObjectVoidParam(pointer, size, paramName));
}

int MCommandObject::AddBYTEBufferParam(const void* bytes, int length, const char* paramName) {
    return AddParam(new MCommandObjectBYTEBufferParam(bytes, length, paramName));
}

int MCommandObject::AddCharBufferParam(const char* text, const char* paramName) {
    return AddParam(new MCommandObjectCharBufferParam(text, paramName));
}

int MCommandObject::AddFloatParam(double value, const char* paramName) {
    return AddParam(new MCommandObjectFloatParam(value, paramName));
}

int MCommandObject::AddDWORDParam(uint32_t value, const char* paramName) {
    return AddParam(new MCommandObjectDWORDParam(value, paramName));
}

int MCommandObject::AddWORDParam(uint16_t value, const char* paramName) {
    return AddParam(new MCommandObjectWORDParam(value, paramName));
}

int MCommandObject::AddIntParam(int32_t value, const char* paramName) {
    return AddParam(new MCommandObjectIntParam(value, paramName));
}

int MCommandObject::AddCharParam(char value, const char* paramName) {
    return AddParam(new MCommandObjectCharParam(value, paramName));
}

int MCommandObject::AddBYTEParam(uint8_t value, const char* paramName) {
    return AddParam(new MCommandObjectBYTEParam(value, paramName));
}

int MCommandObject::GetParamType(int index) const {
    const MCommandObjectParamBase* p = GetParam(index);
    return p ? p->GetType() : 0;
}

int MCommandObject::GetParamSize(int index) const {
    const MCommandObjectParamBase* p = GetParam(index);
    return p ? p->GetSize() : 0;
}

const char* MCommandObject::GetParamName(int index) const {
    const MCommandObjectParamBase* p = GetParam(index);
    return p ? p->GetName() : nullptr;
}

const void* MCommandObject::GetParamInfo(int index, int* size, int* type) const {
    const MCommandObjectParamBase* p = GetParam(index);
    if (size) *size = p ? p->GetSize() : 0;
    if (type) *type = p ? p->GetType() : 0;
    return p ? p->GetData() : nullptr;
}

const void* MCommandObject::TypedData(int index, int type, int size) const {
    const MCommandObjectParamBase* p = GetParam(index);
    if (p == nullptr || p->GetType() != type || p->GetData() == nullptr || p->GetSize() < size)
        return nullptr;
    return p->GetData();
}

namespace {

template <typename T>
T ReadValue(const void* data) {
    T value{};
    if (data != nullptr) std::memcpy(&value, data, sizeof value);
    return value;
}

}  // namespace

uint8_t MCommandObject::GetBYTE(int index) const {
    return ReadValue<uint8_t>(TypedData(index, kParamBYTE, sizeof(uint8_t)));
}

char MCommandObject::GetChar(int index) const {
    return ReadValue<char>(TypedData(index, kParamChar, sizeof(char)));
}

int32_t MCommandObject::GetInt(int index) const {
    return ReadValue<int32_t>(TypedData(index, kParamInt, sizeof(int32_t)));
}

uint16_t MCommandObject::GetWORD(int index) const {
    return ReadValue<uint16_t>(TypedData(index, kParamWORD, sizeof(uint16_t)));
}

uint32_t MCommandObject::GetDWORD(int index) const {
    return ReadValue<uint32_t>(TypedData(index, kParamDWORD, sizeof(uint32_t)));
}

double MCommandObject::GetFloat(int index) const {
    return ReadValue<double>(TypedData(index, kParamFloat, sizeof(double)));
}

const char* MCommandObject::GetCharBuffer(int index) const {
    const MCommandObjectParamBase* p = GetParam(index);
    if (p == nullptr || p->GetType() != kParamCharBuffer) return nullptr;
    return static_cast<const char*>(p->GetData());
}

const void* MCommandObject::GetBYTEBuffer(int index, int* size) const {
    const MCommandObjectParamBase* p = GetParam(index);
    if (p == nullptr || p->GetType() != kParamBYTEBuffer) return nullptr;
    if (size) *size = p->GetSize();
    return p->GetData();
}

const void* MCommandObject::GetVoid(int index, int* size) const {
    const MCommandObjectParamBase* p = GetParam(index);
    if (p == nullptr || p->GetType() != kParamVoid) return nullptr;
    if (size) *size = p->GetSize();
    return p->GetData();
}

void MCommandObject::CopyParamsFrom(const MCommandObject& other) {
    Reserve(other.count_);
    for (int i = 0; i < other.count_; ++i) AddParamCopy(other.params_[i]);
}

void MCommandObject::Assign(const MCommandObject* other) {
    if (other == nullptr || other == this) return;
    ILockable* lock = lock_;
    const int userValue = userValue_;
    Init(other->owner_, other->code_, other->subCode_, other->name_, other->capacity_, lock, userValue);
    CopyParamsFrom(*other);
}
