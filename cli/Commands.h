// The commands of zorvik. Each returns normally on success and throws Failure
// with the line for standard error otherwise.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "CliSupport.h"
#include "zorvik/service/flash.h"

namespace cli {

void RunPorts();

struct MonitorOptions {
    std::optional<long> count;
    std::optional<double> seconds;
};
void RunMonitor(const Session& session, const MonitorOptions& options);

struct RecordOptions {
    std::string file;
    std::optional<double> seconds;
};
void RunRecord(const Session& session, const RecordOptions& options);

struct SendOptions {
    std::string text;
    double wait_seconds = 2.0;
};
void RunSend(const Session& session, const SendOptions& options);

void RunVersion(const Session& session, bool customer);

struct RestartOptions {
    std::string kind;  // cold, warm or hot
    bool ttff = false;
    std::optional<double> timeout;
};
void RunRestart(const Session& session, const RestartOptions& options);

void RunBaud(const Session& session, const std::string& rate);

// "NAME=on" / "NAME=off" with the names of the sentence dialog.
void RunSentences(const Session& session, const std::vector<std::string>& settings);

void RunSingleChannel(const Session& session, const std::string& satellite);

struct FlashOptions {
    std::string kind;  // firmware, kernel, fsa or all
    std::string file;
    int wait_ms = zorvik::service::kDefaultNakWaitMs;
};
void RunFlash(const Session& session, const FlashOptions& options);

struct AgpsOptions {
    std::string kind;  // be or lte
    std::string host;  // empty: the build's A-GPS server
    std::string file;  // empty: BE.bin or LTE.bin in the current directory
    bool no_download = false;
};
void RunAgps(const Session& session, const AgpsOptions& options);

// Empty when the setting is one RunSentences takes, else why not.
std::string CheckSentenceSetting(const std::string& setting);

// The names and rates the commands accept, for the option checks.
const std::vector<std::string>& BaudRates();
const std::vector<std::string>& SentenceNames();
const std::vector<std::string>& FlashKindNames();
// Empty when host is a scheme, host and port (the request's path is fixed).
std::string CheckAgpsHost(const std::string& host);

}  // namespace cli
