// Receives the host's user group tree from KorrelRemote::EnumerateUserGroups.
#pragma once

class IKorrelRemoteCallback {
public:
    // One group, a parent before its children; the top level is depth 0. `name` is valid during the call.
    virtual void OnUserGroup(const char* name, int depth) = 0;

protected:
    ~IKorrelRemoteCallback() = default;
};
