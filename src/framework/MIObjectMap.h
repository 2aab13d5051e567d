// The framework's hash map of object pointers keyed by a 32-bit id. Each bucket is a list created on first
// use; the map never owns its objects unless DeleteAll is asked for. T needs `uint32_t GetId() const`.
#pragma once

#include <cstdint>
#include <memory>

#include "framework/MIDoubleList.h"
#include "platform/Sync.h"

template <class T>
class MIObjectMap {
public:
    // 2^(sizeExponent AND 31) buckets, or 2 for an exponent of 0 or below. With `locked` the map guards
    // itself with its own critical section.
    MIObjectMap(int sizeExponent, bool locked) {
        // The bucket count is kept in 32 bits as it always was; 2^31 is the largest count it can hold.
        bucketCount_ = sizeExponent <= 0 ? 2u : (1u << (static_cast<unsigned>(sizeExponent) & 31u));
        buckets_ = new Bucket*[bucketCount_]();
        mask_ = bucketCount_ - 1;
        if (locked) lock_.reset(new platform::MCriticalSection());
    }

    virtual ~MIObjectMap() {
        RemoveAll();
        delete[] buckets_;
    }

    MIObjectMap(const MIObjectMap&) = delete;
    MIObjectMap& operator=(const MIObjectMap&) = delete;

    // False when an object with the same key is already in the map (or the object is null).
    virtual bool Add(T* object) {
        Guard guard(this);
        if (!object || FindUnlocked(GetKey(object))) return false;
        Bucket*& bucket = buckets_[Hash(GetKey(object)) & mask_];
        if (!bucket) bucket = new Bucket(false);
        bucket->Add(object);
        ++count_;
        return true;
    }

    // Takes out the object found under the object's key; an emptied bucket is freed.
    virtual void Remove(T* object) {
        Guard guard(this);
        const uint32_t key = GetKey(object);
        T* found = FindUnlocked(key);
        if (!found) return;
        Bucket*& bucket = buckets_[Hash(key) & mask_];
        bucket->Remove(found);
        if (bucket->GetCount() == 0) {
            delete bucket;
            bucket = nullptr;
        }
        --count_;
    }

    virtual T* Find(uint32_t key) {
        Guard guard(this);
        return FindUnlocked(key);
    }

    virtual int GetCount() {
        Guard guard(this);
        return count_;
    }

    // Forgets every object without destroying it.
    virtual void RemoveAll() {
        Guard guard(this);
        FreeBuckets();
    }

    // Destroys every object, then forgets them.
    virtual void DeleteAll() {
        Guard guard(this);
        for (uint32_t i = 0; i < bucketCount_; ++i) {
            if (buckets_[i]) buckets_[i]->DeleteAll();
        }
        FreeBuckets();
    }

    virtual uint32_t Hash(uint32_t key) { return key >> 2; }
    virtual uint32_t GetKey(T* object) { return object ? object->GetId() : 0; }

    uint32_t GetBucketCount() const { return bucketCount_; }

private:
    using Bucket = MIDoubleList<T>;

    class Guard {
    public:
        explicit Guard(MIObjectMap* map) : lock_(map->lock_.get()) {
            if (lock_) lock_->Enter();
        }
        ~Guard() {
            if (lock_) lock_->Leave();
        }
        Guard(const Guard&) = delete;
        Guard& operator=(const Guard&) = delete;

    private:
        platform::MCriticalSection* lock_;
    };

    T* FindUnlocked(uint32_t key) {
        Bucket* bucket = buckets_[Hash(key) & mask_];
        if (!bucket) return nullptr;
        MIDoubleListIterator<T> it(bucket);
        for (T* object = it.Current(); object; object = it.Next()) {
            if (GetKey(object) == key) return object;
        }
        return nullptr;
    }

    void FreeBuckets() {
        for (uint32_t i = 0; i < bucketCount_; ++i) {
            delete buckets_[i];
            buckets_[i] = nullptr;
        }
        count_ = 0;
    }

    Bucket** buckets_ = nullptr;
    uint32_t bucketCount_ = 0;
    uint32_t mask_ = 0;
    int count_ = 0;
    std::unique_ptr<platform::MCriticalSection> lock_;
};
