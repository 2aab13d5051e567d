// One complete HTTP exchange per call: open, send, answer challenges, read status, headers and the whole
// body, close. Nothing survives between calls. Every exchange is bounded whatever the server does: in
// time (the platform's exchange limit on top of its per-wait limits), in the size of the body, and in the
// number of sends.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "platform/HttpBackend.h"

// The outcome of one exchange.
struct MHttpResponse {
    std::string body;      // the entity exactly as received
    std::wstring headers;  // raw header block, lines ended by CR LF
    uint32_t status = 0;   // status of the last response received; 0 when none arrived
    std::wstring error;    // message of the last step that failed; never cleared by an exchange

    void Clear();
};

// Picks the strongest scheme of a kHttpAuth* bit set: Negotiate, NTLM, Passport, Digest, then Basic.
// 0 when none of the five is offered.
uint32_t ChooseAuthScheme(uint32_t supported);

// The settings of one exchange, built by the caller for each call.
class MHttpClient {
public:
    // Challenges answered with another send; the next challenge ends the exchange with its status.
    static constexpr int kMaxChallengeRounds = 5;
    // Sends repeated because the platform asked for it; the next such request fails the exchange.
    static constexpr int kMaxResends = 3;
    // The largest body taken in; a larger answer fails the exchange and the body is dropped.
    static constexpr uint32_t kMaxBodyBytes = platform::kHttpMaxBodyBytes;

    MHttpClient(std::wstring host, int32_t port, bool secure, std::wstring agent, std::wstring proxyUser,
                std::wstring proxyPassword, std::wstring serverUser, std::wstring serverPassword);

    // Exchanges go through the platform's backend unless another one is given (tests).
    void SetBackend(platform::IHttpBackend* backend);

    bool HttpGet(const std::wstring& path, const std::wstring& headers, MHttpResponse& response) const;
    bool HttpPost(const std::wstring& path, const std::wstring& headers, const std::string& body,
                  MHttpResponse& response) const;
    bool HttpPut(const std::wstring& path, const std::wstring& headers, const std::string& body,
                 MHttpResponse& response) const;
    bool HttpDelete(const std::wstring& path, const std::wstring& headers, const std::string& body,
                    MHttpResponse& response) const;

    // True when the last platform step succeeded, whatever the status code; the caller reads status. False
    // also when the exchange ran out of time or the body out of room.
    bool Execute(const std::wstring& method, const std::wstring& path, const std::wstring& headers,
                 const std::string& body, MHttpResponse& response) const;

private:
    using Deadline = std::chrono::steady_clock::time_point;

    // Runs the attempts on an open request until one ends the exchange; returns ok.
    bool RunAttempts(platform::HttpHandle request, const std::wstring& headers, const std::string& body,
                     Deadline deadline, MHttpResponse& response) const;
    // Reads the body straight into the response; false when it grew past the limit or time ran out.
    bool ReadBody(platform::HttpHandle request, Deadline deadline, MHttpResponse& response) const;

    std::wstring host_;
    int32_t port_;
    bool secure_;
    std::wstring agent_;
    std::wstring proxyUser_;
    std::wstring proxyPassword_;
    std::wstring serverUser_;
    std::wstring serverPassword_;
    platform::IHttpBackend* backend_;
};
