// Shared by the fuzz targets of the REST client's answers: the fuzzed bytes are the body of a 200 answer,
// handed over by the test suite's scripted backend in pieces whose sizes the input chooses.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <string>
#include <vector>

#include "server/FakeHttpBackend.h"

// The backend with one answer: the rest of the input as its body, cut into up to four pieces. Returns the
// body.
inline std::string ScriptAnswer(FuzzedDataProvider& input, FakeHttpBackend* backend) {
    int pieces = input.ConsumeIntegralInRange<int>(1, 4);
    std::vector<size_t> cuts;
    for (int i = 1; i < pieces; ++i) cuts.push_back(input.ConsumeIntegral<uint16_t>());
    std::string body = input.ConsumeRemainingBytesAsString();
    FakeResponse response = Answer(200);
    size_t at = 0;
    for (size_t cut : cuts) {
        size_t n = std::min(cut, body.size() - at);
        if (n == 0) continue;
        response.body.push_back(FakeChunk{body.substr(at, n)});
        at += n;
    }
    if (at < body.size()) response.body.push_back(FakeChunk{body.substr(at)});
    backend->script.push_back(response);
    return body;
}
