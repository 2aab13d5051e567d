// One complete HTTP exchange per call: open, send, answer challenges, read status, headers and the whole
// body, close. Nothing survives between calls.
#pragma once

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

    // True when the last platform step succeeded, whatever the status code; the caller reads status.
    bool Execute(const std::wstring& method, const std::wstring& path, const std::wstring& headers,
                 const std::string& body, MHttpResponse& response) const;

private:
    // Runs the attempts on an open request until one ends the exchange; returns ok.
    bool RunAttempts(platform::HttpHandle request, const std::wstring& headers, const std::string& body,
                     MHttpResponse& response) const;
    void ReadBody(platform::HttpHandle request, MHttpResponse& response) const;

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
