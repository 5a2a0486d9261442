// The commands of zorvik. Each returns normally on success, with its result
// given to the Report, and throws Failure (or Stopped) with the line for
// standard error otherwise.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "CliSupport.h"
#include "ReceiverLink.h"
#include "zorvik/service/flash.h"

namespace cli {

class Report;

void RunPorts(Report& report);

struct MonitorOptions {
    std::optional<long> count;
    std::optional<double> seconds;
};
void RunMonitor(const Session& session, const MonitorOptions& options, Report& report);

struct RecordOptions {
    std::string file;
    std::optional<double> seconds;
};
void RunRecord(const Session& session, const RecordOptions& options, Report& report);

struct SendOptions {
    std::string text;
    double wait_seconds = 2.0;
};
void RunSend(const Session& session, const SendOptions& options, Report& report);

void RunVersion(const Session& session, bool customer, Report& report);

struct RestartOptions {
    std::string kind;  // cold, warm or hot
    bool ttff = false;
};
void RunRestart(const Session& session, const RestartOptions& options, Report& report);

void RunBaud(const Session& session, const std::string& rate, Report& report);

// "NAME=on" / "NAME=off" with the names of the sentence dialog.
void RunSentences(const Session& session, const std::vector<std::string>& settings, Report& report);

void RunSingleChannel(const Session& session, const std::string& satellite, Report& report);

struct FlashOptions {
    std::string kind;  // firmware, kernel, fsa or all
    std::string file;
    int wait_ms = zorvik::service::kDefaultNakWaitMs;
};
void RunFlash(const Session& session, const FlashOptions& options, Report& report);

struct AgpsOptions {
    std::string kind;  // be or lte
    std::string host;  // empty: the build's A-GPS server
    std::string file;  // empty: BE.bin or LTE.bin in the current directory
    bool no_download = false;
    bool allow_old = false;  // upload the older file when the download fails
};
void RunAgps(const Session& session, const AgpsOptions& options, Report& report);
// The download alone, for the process that serves several ports: "fresh"
// when the file was replaced, else why not. Throws Stopped when cancelled.
std::string DownloadForAllPorts(const Session& session, const AgpsOptions& options);
inline constexpr const char* kFreshDownload = "fresh";

// The versions the receiver reports, as version prints them.
struct ReceiverVersions {
    std::string firmware, kernel, fsa;
};
// Asks for them and waits for the reply; throws Failure without one.
ReceiverVersions AskVersions(ReceiverLink& link, Seconds timeout);
void ReportVersions(const ReceiverVersions& versions, Report& report);
nlohmann::ordered_json VersionsJson(const ReceiverVersions& versions);

// Empty unless satellite is a two-digit number no receiver takes (then why).
std::string CheckSatellite(const std::string& satellite);

// The first sentence name that two settings give (any case), else empty.
std::string SentenceGivenTwice(const std::vector<std::string>& settings);

// Empty when the setting is one RunSentences takes, else why not.
std::string CheckSentenceSetting(const std::string& setting);

// The names and rates the commands accept, for the option checks.
const std::vector<std::string>& BaudRates();
const std::vector<std::string>& SentenceNames();
const std::vector<std::string>& FlashKindNames();
// Empty when host is a scheme, host and port (the request's path is fixed).
std::string CheckAgpsHost(const std::string& host);

}  // namespace cli
