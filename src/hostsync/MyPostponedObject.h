// A host object whose release is put off: it is held here, under a process-unique id, until the last
// reference to this holder goes.
#pragma once

#include <atomic>
#include <cstdint>

#include "zrk/IMInterface.h"

class MyPostponedObject {
public:
    // Holds `object` (may be null; not referenced again, its release is the holder's) with one reference.
    explicit MyPostponedObject(IMInterface* object);

    MyPostponedObject(const MyPostponedObject&) = delete;
    MyPostponedObject& operator=(const MyPostponedObject&) = delete;

    // Releases the held object.
    virtual ~MyPostponedObject();
    // Both return the new count; the last Release destroys the holder.
    virtual int AddRef();
    virtual int Release();

    uint32_t GetId() const { return id_; }
    IMInterface* GetObject() const { return object_; }

    // The next id of the process; never 0, also after the counter wraps.
    static uint32_t NextId();

private:
    const uint32_t id_;
    IMInterface* object_;
    std::atomic<int> refCount_{1};
};
