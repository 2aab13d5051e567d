// A calendar server's plug-in and page answers on a loopback port of its own, for the benchmarks that ask
// them as a client would; served from construction until destruction.
#pragma once

#include <chrono>
#include <thread>

#include "CalendarServer.h"
#include "HttpServer.h"
#include "PageApi.h"

class ServedCalendar {
public:
    explicit ServedCalendar(calendar_server::CalendarServer& calendar)
        : page_(calendar, calendar_server::PageApi::Options()) {
        calendar.Register(http_, nullptr);
        page_.Register(http_);
        port_ = http_.bind_to_any_port("127.0.0.1");
        serving_ = std::thread([this] { http_.listen_after_bind(); });
        while (!http_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~ServedCalendar() {
        http_.stop();
        serving_.join();
    }
    ServedCalendar(const ServedCalendar&) = delete;
    ServedCalendar& operator=(const ServedCalendar&) = delete;

    int port() const { return port_; }

private:
    calendar_server::HttpServer http_;
    calendar_server::PageApi page_;
    int port_ = 0;
    std::thread serving_;
};
