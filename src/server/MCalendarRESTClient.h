// The plug-in's only view of the calendar server: builds each request of the server's JSON interface, makes
// one exchange and hands the records read from the answer to the calendar store.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/HttpBackend.h"
#include "platform/Sync.h"

class CalendarEventList;
class MCalendarStore;
class MCalendarVariable;

class MCalendarRESTClient {
public:
    static constexpr int32_t kDefaultPort = 9256;

    // The store receives every list read; it is not owned.
    explicit MCalendarRESTClient(MCalendarStore* store);
    virtual ~MCalendarRESTClient();
    MCalendarRESTClient(const MCalendarRESTClient&) = delete;
    MCalendarRESTClient& operator=(const MCalendarRESTClient&) = delete;

    // Takes host and port from "[http://]host[:port]"; the port is 9256 unless one follows the colon.
    void SetServerURL(const std::wstring& url);
    std::wstring GetHost();
    int32_t GetPort();

    // A list in the store is replaced only by an answer with a 2xx status that reads as a whole; any other
    // answer, or none, leaves it as it was. The refreshes are true exactly when they replaced the list; the
    // other requests are true when the server answered with a 2xx status.
    bool TestConnection();
    bool RefreshLocations();
    // The variable requests also give the status of the server's answer through `status` (may be null; 0
    // when no answer arrived).
    bool RefreshVariables(int locationId, uint32_t* status = nullptr);
    // The longest look-ahead asked for, in days: the server refuses a window much longer (400 days), and a
    // refused window would fail every refresh. A longer look-ahead stored in the settings is used as this.
    static constexpr int kMaxLookaheadDays = 366;

    // Today's actions, or from today to `lookaheadDays` days ahead when that is 2 or more (at most
    // kMaxLookaheadDays).
    void RefreshActions(int locationId, int lookaheadDays);
    // The same request without touching the store: true, with the ordered list in *list, when the whole
    // answer could be read; false, *list untouched, otherwise. For a caller that installs the list itself.
    bool FetchActions(int locationId, int lookaheadDays, std::unique_ptr<CalendarEventList>* list);
    // The variable stays the caller's. False without sending when its JSON body cannot be built.
    bool CreateVariable(int locationId, MCalendarVariable* variable, uint32_t* status = nullptr);
    bool UpdateVariable(int locationId, MCalendarVariable* variable, uint32_t* status = nullptr);
    // The JSON body CreateVariable and UpdateVariable send; false when it cannot be built (a name that is
    // not UTF-8), and nothing is then sent.
    static bool VariableBody(const MCalendarVariable* variable, int locationId, std::string* body);
    // The location id is not used; the variable is named by its id alone.
    bool DeleteVariable(int locationId, int variableId, uint32_t* status = nullptr);

    // Exchanges go through the platform's backend unless another one is given (tests).
    void SetBackend(platform::IHttpBackend* backend);
    // The backend given; null for the platform's.
    platform::IHttpBackend* GetBackend() const { return backend_.load(); }

    // The request target of RefreshActions for a local date and time given as an instant.
    static std::wstring ActionsPath(int locationId, int lookaheadDays, uint64_t localInstant);

private:
    class Exchange;
    bool SendVariable(bool create, int locationId, MCalendarVariable* variable, uint32_t* status);

    std::wstring host_;
    int32_t port_ = kDefaultPort;
    platform::MCriticalSection lock_;
    MCalendarStore* store_;
    std::atomic<platform::IHttpBackend*> backend_{nullptr};
};
