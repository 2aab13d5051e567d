// A lock that framework objects accept in place of their own critical section. The integer is passed
// through: lists pass 1 for their own locking and 0 for their iteration helpers.
#pragma once

class ILockable {
public:
    virtual void Lock(int flag) = 0;
    virtual void Unlock(int flag) = 0;

protected:
    ~ILockable() = default;
};
