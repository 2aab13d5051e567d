#include "hostsync/MyPostponedObject.h"

namespace {
std::atomic<uint32_t> g_lastId{0};
}

uint32_t MyPostponedObject::NextId() {
    uint32_t id = g_lastId.fetch_add(1, std::memory_order_relaxed) + 1;
    // 0 means "no object" to the map: the wrap skips it.
    if (id == 0) id = g_lastId.fetch_add(1, std::memory_order_relaxed) + 1;
    return id;
}

MyPostponedObject::MyPostponedObject(IMInterface* object) : id_(NextId()), object_(object) {}

MyPostponedObject::~MyPostponedObject() {
    if (object_) object_->Release();
}

int MyPostponedObject::AddRef() {
    return refCount_.fetch_add(1, std::memory_order_relaxed) + 1;
}

int MyPostponedObject::Release() {
    const int count = refCount_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (count == 0) delete this;
    return count;
}
