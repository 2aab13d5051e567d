// The body of an MThread, run once on the new thread; the thread ends when Run returns.
#pragma once

class MThread;

class IThreadHandler {
public:
    virtual int Run(MThread* thread) = 0;

protected:
    ~IThreadHandler() = default;
};
