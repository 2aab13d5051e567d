// A context whose completion is forwarded to a handler object instead of waking a blocked thread. It
// lives on the heap and dies with its last reference.
#pragma once

#include <atomic>

#include "framework/IAsyncDeviceExecContextHandler.h"
#include "framework/MDefaultDeviceExecContext.h"
#include "framework/MIDoubleList.h"

class MAsyncDeviceExecContext : public MDefaultDeviceExecContext {
public:
    // The owner's list of its asynchronous contexts, built with locking disabled; the contexts take its
    // lock themselves.
    using Registry = MIDoubleList<MAsyncDeviceExecContext>;

    // `handler` (not owned, may be null) is told of the completion once. Joins `registry` (may be null)
    // under its lock.
    MAsyncDeviceExecContext(IAsyncDeviceExecContextHandler* handler, Registry* registry);
    // Leaves the registry under its lock.
    ~MAsyncDeviceExecContext() override;

    // The first completion: state 2, the handler's OnContextDone (the handler is then forgotten) and its
    // result. Any later completion, or one without a handler, drops a reference (Release) instead.
    intptr_t ZRK_CALL Complete() override;

private:
    // Taken with an exchange, so that two completions racing on host threads call the handler once.
    std::atomic<IAsyncDeviceExecContextHandler*> completionHandler_;
    Registry* registry_;
};
