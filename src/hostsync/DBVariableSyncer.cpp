#include "hostsync/DBVariableSyncer.h"

#include <memory>
#include <string>
#include <vector>

#include "calendar/MCalendarEnumVariable.h"
#include "calendar/MCalendarStore.h"
#include "hostsync/KorrelRemote.h"
#include "platform/Sync.h"
#include "server/HttpCancel.h"
#include "server/MCalendarRESTClient.h"
#include "zrk/IEnumData.h"
#include "zrk/IHostVariable.h"
#include "zrk/IVariableManager.h"

namespace {

// Whether the exchanges of this thread were cancelled (its device stops): nothing more is to be asked.
bool Cancelled() {
    HttpCancel* cancel = HttpCancel::OfThisThread();
    return cancel != nullptr && cancel->IsCancelled();
}

// The worker's "Sync DB" and the setup dialog's "Sync" button work on the same server list: one
// synchronisation at a time reads it, compares and sends its changes, or both would create what the server
// lacks. The turn is taken after the host's listing and covers exchanges and the store only, never a host
// call: a host that completes calls on the thread of the dialog would otherwise never get to it. A thread
// whose exchanges are cancelled stops waiting for its turn.
class SyncTurn {
public:
    bool Take() {
        for (;;) {
            {
                platform::MLock guard(lock_);
                if (!busy_) {
                    busy_ = true;
                    return true;
                }
            }
            if (Cancelled()) return false;
            freed_.Wait(kCancelCheckMs);
        }
    }
    void Give() {
        {
            platform::MLock guard(lock_);
            busy_ = false;
        }
        freed_.Set();
    }

private:
    static constexpr uint32_t kCancelCheckMs = 50;
    platform::MCriticalSection lock_;
    platform::MEvent freed_{false, false};
    bool busy_ = false;
};

SyncTurn& Turn() {
    static SyncTurn turn;
    return turn;
}

// Holds the turn for a scope once taken.
class TurnHeld {
public:
    TurnHeld() : held_(Turn().Take()) {}
    ~TurnHeld() {
        if (held_) Turn().Give();
    }
    TurnHeld(const TurnHeld&) = delete;
    TurnHeld& operator=(const TurnHeld&) = delete;
    bool Held() const { return held_; }

private:
    const bool held_;
};

}  // namespace

DBVariableSyncer::DBVariableSyncer(KorrelRemote* remote, MCalendarStore* store, MCalendarRESTClient* client,
                                   int32_t locationId)
    : remote_(remote), store_(store), client_(client), locationId_(locationId) {}

DBVariableSyncer::~DBVariableSyncer() {
    hostVariables_.DeleteAll();
}

void DBVariableSyncer::OnItem(const char* name, int kind, int32_t) {
    if (!name) return;
    if (kind != MCalendarVariable::kEnumType) {
        hostVariables_.push_back(new MCalendarVariable(0, kind, name));
        return;
    }
    IVariableManager* variables = remote_ ? remote_->GetVariableManager() : nullptr;
    if (!variables) return;
    IHostVariable* variable = variables->GetVariable(name);
    if (!variable) return;
    void* answer = nullptr;
    if (variable->QueryInterface("IEnumData", &answer) != 0 || !answer) return;
    IEnumData* items = static_cast<IEnumData*>(answer);
    std::unique_ptr<MCalendarEnumVariable> record(new MCalendarEnumVariable(0, name));
    const int count = items->GetItemCount();
    for (int i = 0; i < count; ++i) {
        const char* text = items->GetItemText(i);
        record->values.push_back(text ? text : "");
    }
    hostVariables_.push_back(record.release());
}

bool DBVariableSyncer::Sync(const char* group, bool refreshFirst) {
    if (!group || !*group || !remote_ || !store_ || !client_) return false;
    if (Cancelled()) return false;

    // The host is asked first: a listing that cannot be had must not cost the server its variables, nor the
    // store the list it shows.
    if (!remote_->EnumerateVariablesChecked(group, this, 0)) {
        hostVariables_.DeleteAll();
        return false;
    }

    // The comparison needs the server's list as it stands, read in this synchronisation's turn: without it,
    // creations would double what the server has and updates and deletions would name rows of another
    // reading.
    TurnHeld turn;
    if (!turn.Held() || Cancelled() || (refreshFirst && !client_->RefreshVariables(locationId_))) {
        hostVariables_.DeleteAll();
        return false;
    }
    bool serverOk = true;

    // The working lists own nothing; the records stay in hostVariables_ until the result list takes them.
    std::unique_ptr<CalendarVariableList> result(new CalendarVariableList());
    std::vector<MCalendarVariable*> toCreate;
    std::vector<MCalendarVariable*> toUpdate;
    std::vector<int32_t> toDelete;
    {
        // The store's list may be replaced from another thread meanwhile; the accessor keeps the one read
        // here alive. Only ids are carried out of this scope.
        auto server = store_->AccessVariables();
        for (MCalendarVariable* h : hostVariables_) {
            const MCalendarVariable* match = nullptr;
            for (const MCalendarVariable* s : *server) {
                if (s->name == h->name) {
                    match = s;
                    break;
                }
            }
            if (match) {
                // The host's record takes the server's place in the store: it keeps the server's identity,
                // also when nothing is to be sent, so that a later update or deletion names the right row.
                h->variable_id = match->variable_id;
                h->location_id = match->location_id;
                if (h->IsEqual(match)) {
                    result->push_back(h);
                } else {
                    toUpdate.push_back(h);
                }
            } else {
                h->location_id = locationId_;
                toCreate.push_back(h);
            }
        }
        for (const MCalendarVariable* s : *server) {
            bool listed = false;
            for (const MCalendarVariable* h : hostVariables_) {
                if (h->name == s->name) {
                    listed = true;
                    break;
                }
            }
            if (!listed) toDelete.push_back(s->variable_id);
        }
    }

    // The first request the server does not answer ends the sending: a server that hangs would otherwise
    // hold the exchange for the transport's limit once per variable. A refusal (an answer other than 2xx)
    // does not stop the others.
    bool reachable = true;
    // Notes one answer; no answer (status 0) means the server was not reached, unless the request could not
    // even be built.
    const int32_t location = locationId_;
    auto answered = [&serverOk, &reachable, location](bool ok, uint32_t status,
                                                      const MCalendarVariable* record) {
        serverOk = ok && serverOk;
        std::string body;
        reachable = status != 0 || (record && !MCalendarRESTClient::VariableBody(record, location, &body));
    };
    for (MCalendarVariable* record : toCreate) {
        uint32_t status = 0;
        if (reachable) {
            const bool ok = client_->CreateVariable(locationId_, record, &status);
            answered(ok, status, record);
        }
        result->push_back(record);
    }
    for (MCalendarVariable* record : toUpdate) {
        uint32_t status = 0;
        if (reachable) {
            const bool ok = client_->UpdateVariable(locationId_, record, &status);
            answered(ok, status, record);
        }
        result->push_back(record);
    }
    for (int32_t id : toDelete) {
        if (!reachable) break;
        uint32_t status = 0;
        const bool ok = client_->DeleteVariable(locationId_, id, &status);
        answered(ok, status, nullptr);
    }
    serverOk = serverOk && reachable;

    // Every host record is in the result list now; the store deletes them with that list.
    hostVariables_.clear();
    store_->SetVariables(result.release());
    return serverOk;
}
