#include "hostsync/KorrelRemote.h"

#include <tinyxml.h>

#include <cstring>
#include <string>

#include "framework/XmlText.h"
#include "platform/ModuleLifetime.h"
#include "zrk/IHostVariable.h"

namespace {

// Buckets of the postponed-object map: 2^10.
constexpr int kPostponedMapExponent = 10;
// How often a thread waiting for a pending host call looks whether Stop wants it to give up.
constexpr uint32_t kEndCheckMs = 20;

bool IsServedCode(int code) {
    return (code >= 0 && code <= 30) || code == 100 || code == 1000;
}

// Parses a reply; false when it is not XML with a root element.
bool ParseReply(const char* reply, TiXmlDocument* doc) {
    // A host that answers in its ANSI code page is read byte by byte (see xml_text).
    return xml_text::Parse(doc, reply, korrel_reply::kMaxReplyDepth) && doc->RootElement() != nullptr;
}

const TiXmlElement* FirstObject(const TiXmlDocument& doc) {
    return doc.RootElement()->FirstChildElement("Object");
}

// One level of the user group tree: `e` and its following siblings.
void WalkGroups(const TiXmlElement* e, int depth, IKorrelRemoteCallback* consumer) {
    for (; e; e = e->NextSiblingElement()) {
        const char* name = e->Attribute("Name");
        const char* type = e->Attribute("Type");
        // Anything that is not a user group is passed over with everything below it.
        if (!name || !type || std::strcmp(type, "UserGroup") != 0) continue;
        // The tree's own top group is not one the user can choose; its children sit one level down.
        if (std::strcmp(name, "User Groups") != 0 && consumer) consumer->OnUserGroup(name, depth);
        WalkGroups(e->FirstChildElement("Object"), depth + 1, consumer);
    }
}

// ASCII letters without regard to case; every other byte must match exactly.
bool SameTextIgnoringCase(const char* a, const char* b) {
    for (;; ++a, ++b) {
        char x = *a;
        char y = *b;
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
        if (!x) return true;
    }
}

// The item kind a data item's "Value" names, or 0 for a value that is not a data item.
int ItemKind(const char* value) {
    if (SameTextIgnoringCase(value, "EnumData")) return IMRUserGroupIteratorCallback::kEnumData;
    if (SameTextIgnoringCase(value, "IntegerData")) return IMRUserGroupIteratorCallback::kIntegerData;
    if (SameTextIgnoringCase(value, "StringData")) return IMRUserGroupIteratorCallback::kStringData;
    return 0;
}

}  // namespace

namespace korrel_reply {

int NestingDepth(const char* reply) {
    return xml_text::NestingDepth(reply);
}

bool ReadUserGroups(const char* reply, IKorrelRemoteCallback* consumer) {
    TiXmlDocument doc;
    if (!ParseReply(reply, &doc)) return false;
    WalkGroups(FirstObject(doc), 0, consumer);
    return true;
}

bool ReadItems(const char* reply, IMRUserGroupIteratorCallback* consumer, int32_t context) {
    TiXmlDocument doc;
    if (!ParseReply(reply, &doc)) return false;
    for (const TiXmlElement* e = FirstObject(doc); e; e = e->NextSiblingElement()) {
        const char* name = e->Attribute("Name");
        const char* value = e->Attribute("Value");
        if (!name || !value) continue;
        const int kind = ItemKind(value);
        if (kind != 0 && consumer) consumer->OnItem(name, kind, context);
    }
    return true;
}

bool ReadListing(const char* reply, IMRUserGroupIteratorCallback* consumer, int32_t context) {
    TiXmlDocument doc;
    if (!ParseReply(reply, &doc)) return false;
    for (const TiXmlElement* e = FirstObject(doc); e; e = e->NextSiblingElement()) {
        const char* name = e->Attribute("Name");
        if (name && consumer) consumer->OnItem(name, IMRUserGroupIteratorCallback::kListingItem, context);
    }
    return true;
}

}  // namespace korrel_reply

KorrelRemote::KorrelRemote(MZRKDeviceBase* device, IKorrelRemote* syncRemote, IKorrelRemote2* asyncRemote,
                           IVariableManager* variableManager)
    : syncRemote_(syncRemote),
      asyncRemote_(asyncRemote),
      variableManager_(variableManager),
      device_(device),
      postponed_(new MIObjectMap<MyPostponedObject>(kPostponedMapExponent, true)) {}

KorrelRemote::~KorrelRemote() {
    asyncContexts_.Lock(MAsyncDeviceExecContext::Registry::kListLockFlag);
    // Releasing may destroy a context, which then leaves this list (same thread, recursive lock): take the
    // contexts out of the list first so the walk never stands on a freed node.
    MAsyncDeviceExecContext** contexts = asyncContexts_.ToArray();
    for (MAsyncDeviceExecContext** c = contexts; *c; ++c) (*c)->Release();
    delete[] contexts;
    asyncContexts_.Unlock(MAsyncDeviceExecContext::Registry::kListLockFlag);
    postponed_->DeleteAll();
    delete postponed_;
}

int KorrelRemote::QueryInterface(const char*, void**) {
    return kZrkNullArgument;
}

int KorrelRemote::Release() {
    return kZrkNullArgument;
}

int KorrelRemote::OnObjectChanged(int, const char*, const char*, const char*, int) {
    return 0;
}

int KorrelRemote::OnStateChanged(int, int, int) {
    return 0;
}

int KorrelRemote::OnHostNotice(int) {
    return 0;
}

int KorrelRemote::OnContextDone(MDefaultDeviceExecContext* context) {
    if (context && !device_) context->Release();
    return 0;
}

int KorrelRemote::GetPendingCallCount() {
    pendingCalls_.Lock(CalendarDeviceExecContext::Registry::kListLockFlag);
    const int count = pendingCalls_.GetCount();
    pendingCalls_.Unlock(CalendarDeviceExecContext::Registry::kListLockFlag);
    return count;
}

template <class Call>
int KorrelRemote::CallAsync(Call call, MString* reply) {
    if (callsEnded_.load()) return kZrkCancelled;
    // On the heap, with a reference for the host: a call given up at Stop leaves the context to the host,
    // which may still complete it.
    auto* context = new CalendarDeviceExecContext(&pendingCalls_);
    context->TakeHostReference();
    int result = call(context);
    if (result == kZrkPending) {
        // No lock is held here: the host completes the context from its own thread whenever it is done.
        bool givenUp = false;
        while (!context->WaitDone(kEndCheckMs)) {
            if (callsEnded_.load()) {
                givenUp = true;
                break;
            }
        }
        // The host still holds the context, whose code is this library's: it stays loaded for good.
        if (givenUp) platform::PinOwnLibrary();
        result = givenUp ? kZrkCancelled : context->GetResult();
    } else {
        context->DropHostReference();
    }
    if (reply && result == kZrkOk) *reply = context->GetText();
    context->LeaveRegistry();
    context->Release();
    return result;
}

int KorrelRemote::Request(const char* text, int code, MString* reply) {
    reply->Empty();
    if (!IsServedCode(code)) return kZrkNotSupported;
    if (asyncRemote_) {
        return CallAsync([&](IExecContext* c) { return asyncRemote_->Request(text, code, c, 0); }, reply);
    }
    if (!syncRemote_) return kZrkNotSupported;
    char* answer = nullptr;
    const int result = syncRemote_->Request(text, code, &answer);
    if (result == kZrkOk && answer) *reply = answer;
    // A host that hands a text along with a refusal still owns it: give it back either way.
    if (answer) syncRemote_->FreeReply(&answer);
    return result;
}

MString KorrelRemote::SendRequest(const char* text, int code) {
    MString reply;
    if (Request(text, code, &reply) != kZrkOk) reply.Empty();
    return reply;
}

bool KorrelRemote::EnumerateUserGroups(IKorrelRemoteCallback* consumer) {
    const MString reply = SendRequest(kRootGroup, kRequestUserGroups);
    return korrel_reply::ReadUserGroups(reply.Get(), consumer);
}

bool KorrelRemote::EnumerateVariables(const char* group, IMRUserGroupIteratorCallback* consumer,
                                      int32_t context) {
    if (!consumer) return false;
    EnumerateVariablesChecked(group, consumer, context);
    return true;
}

bool KorrelRemote::EnumerateVariablesChecked(const char* group, IMRUserGroupIteratorCallback* consumer,
                                             int32_t context) {
    if (!consumer) return false;
    MString reply;
    bool had = Request(group, kRequestGroupItems, &reply) == kZrkOk;
    had = korrel_reply::ReadItems(reply.Get(), consumer, context) && had;
    const bool listingAnswered = Request(group, kRequestGroupListing, &reply) == kZrkOk;
    had = korrel_reply::ReadListing(reply.Get(), consumer, context) && listingAnswered && had;
    return had;
}

int KorrelRemote::StartTask(const char* name) {
    if (asyncRemote_) {
        return CallAsync([&](IExecContext* c) { return asyncRemote_->StartTask(name, c, 0); }, nullptr);
    }
    if (syncRemote_) return syncRemote_->StartTask(name);
    return kZrkNotSupported;
}

int KorrelRemote::SetVariable(const char* text, const char* value) {
    if (!text) text = "";
    if (!value) value = "";
    std::string name;
    const char* newValue;
    if (const char* equals = std::strchr(text, '=')) {
        name.assign(text, static_cast<size_t>(equals - text));
        newValue = equals + 1;
    } else {
        if (!*value) return kZrkNotSupported;
        name = text;
        newValue = value;
    }
    if (!variableManager_) return kZrkOk;
    IHostVariable* variable = variableManager_->GetVariable(name.c_str());
    if (!variable) return kZrkOk;
    if (variable->GetType() == kZrkVariableInteger) {
        // Decimal as the runtime reads it: blanks and a sign first, digits up to the first other byte.
        variable->SetInteger(MString(newValue).ToInt(), 0, 0);
    } else {
        variable->SetText(newValue, 0, 0);
    }
    return kZrkOk;
}

int KorrelRemote::Subscribe() {
    if (asyncRemote_) {
        asyncRemote_->SetHandler(this);
        return CallAsync([&](IExecContext* c) { return asyncRemote_->Subscribe(kRootGroup, "", c, 0); },
                         nullptr);
    }
    if (syncRemote_) return syncRemote_->Subscribe(this, kRootGroup);
    return kZrkNotSupported;
}

int KorrelRemote::Unsubscribe() {
    if (asyncRemote_) {
        return CallAsync([&](IExecContext* c) { return asyncRemote_->Unsubscribe(0, c, 0); }, nullptr);
    }
    if (syncRemote_) {
        syncRemote_->Unsubscribe();
        return kZrkOk;
    }
    return kZrkNotSupported;
}
