// send, version, restart, baud, sentences and single-channel: commands that
// write a command sentence through the library and, where the receiver
// answers, wait for its answer in the state record. Each first makes sure
// that valid sentences arrive at the given rate, and reports only what the
// receiver confirmed.
#include <algorithm>
#include <cctype>

#include "BaudChange.h"
#include "Commands.h"
#include "DisplayFormats.h"
#include "OpenFailureText.h"
#include "RateProbe.h"
#include "ReceiverLink.h"
#include "Report.h"
#include "zorvik/service/baud_rates.h"
#include "zorvik/service/receiver_settings.h"

namespace cli {

namespace DisplayFormats = zorvik::link::DisplayFormats;

namespace {

using DisplayFormats::FieldText;

// With --ttff, the shortest wait for the receiver's time to first fix report:
// a cold start takes tens of seconds (a longer --timeout lengthens it).
constexpr Seconds kTtffTime{120.0};

// Enough for the second step of the baud-rate exchange (14 bytes) to leave
// at the slowest rate, with a margin.
constexpr Seconds kSecondStepTime{0.25};

// A switched sentence shows its new state within this many epochs.
constexpr int kSwitchEpochs = 4;
// A sentence switched off counts as off once it stayed away for two whole
// epochs in a row: one epoch without it is what a hit sentence or a cut
// recording played back gives, and says nothing about the switch.
constexpr int kOffEpochs = 2;
constexpr Seconds kOffQuiet = (kOffEpochs + 0.5) * kEpoch;
// Room for the command's way to the receiver and a loaded machine.
constexpr Seconds kSwitchSlack{0.5};

// NMEA 0183 allows 82 characters with "$" and the line end; the checksum
// digits and CR LF take four.
constexpr std::size_t kMaxCommandText = 78;

using zorvik::service::kCommandLineWarning;
using zorvik::service::kSentenceNames;
using zorvik::service::kSvIdWarning;
using zorvik::service::kSwitchOff;
using zorvik::service::kSwitchOn;

void RequireWritten(int written, const ReceiverLink& link) {
    if (written == 0) throw Failure("Cannot write to " + link.PortName() + " port");
}

std::string NoReplyText(const ReceiverLink& link, const std::string& what) {
    return "No " + what + " from the receiver on " + link.PortName() + " at " + link.BaudText() +
           " bps";
}

// Reads until the state record satisfies `done`, within `wait`, while the
// receiver keeps talking; throws Failure naming `what` otherwise.
void AwaitRecord(ReceiverLink& link, Seconds timeout, Seconds wait, const std::string& what,
                 const std::function<bool(const ParseNMEAInfo&)>& done) {
    if (done(StateRecord())) return;
    SilenceWatch watch(link, timeout);
    const bool answered = PumpWatched(link, watch, wait, [&](const Sentence&) {
        return done(StateRecord()) ? Next::Stop : Next::Continue;
    });
    ThrowIfStopped("Waiting for the " + what);
    if (!answered) throw Failure(NoReplyText(link, what));
}

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// A pasted sentence brings its own checksum digits; the library appends
// them. Digits that do not match the text say that it is not the sentence
// the user meant: it is refused rather than sent with other digits.
std::string WithoutChecksum(std::string text) {
    const auto star = text.rfind('*');
    if (star == std::string::npos || star + 3 != text.size() ||
        !std::isxdigit(static_cast<unsigned char>(text[star + 1])) ||
        !std::isxdigit(static_cast<unsigned char>(text[star + 2])))
        return text;
    std::string digits = Upper(text.substr(star + 1));
    text.resize(star + 1);
    std::string body = text;
    if (body.front() != '$') body.insert(body.begin(), '$');
    CheckSum(body.c_str());
    const std::string expected = StateRecord().checksum_text;
    if (digits != expected)
        throw Failure(std::string(kCommandLineWarning) + " (the checksum " + digits +
                      " does not match the text, whose checksum is " + expected + ")");
    return text;
}

// The typed sentence as the command line takes it: "$" in front and "*" at
// the end are added when missing. Only printable characters, no second "$"
// or "*", and room for the checksum within the NMEA length.
std::string CommandText(std::string text) {
    text = WithoutChecksum(std::move(text));
    if (!text.empty() && text.front() != '$') text.insert(text.begin(), '$');
    if (!text.empty() && text.back() != '*') text.push_back('*');
    const bool printable = std::all_of(text.begin(), text.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u >= 0x20 && u < 0x7f;
    });
    const bool one_dollar = std::count(text.begin(), text.end(), '$') == 1;
    const bool one_star = std::count(text.begin(), text.end(), '*') == 1;
    if (text.size() < 2 || !printable || !one_dollar || !one_star || text.size() > kMaxCommandText)
        throw Failure(std::string(kCommandLineWarning) + " (printable characters, at most " +
                      std::to_string(kMaxCommandText) + " with \"$\" and \"*\")");
    return text;
}

bool IsProprietaryReply(std::string_view text) {
    return text.substr(0, 5) == "$PKVX";
}

int RateCode(const std::string& rate) {
    for (const auto& r : zorvik::service::kBaudRates)
        if (rate == r.text) return r.code;
    throw Failure("Unknown baud rate " + rate);
}

int SentenceIndex(const std::string& name) {
    const auto it = std::find(kSentenceNames.begin(), kSentenceNames.end(), name);
    return static_cast<int>(it - kSentenceNames.begin());
}

struct SentenceSetting {
    int index = 0;
    bool on = false;
    std::string Name() const { return kSentenceNames[static_cast<std::size_t>(index)]; }
    std::string Text() const { return Name() + (on ? " on" : " off"); }
};

SentenceSetting ParseSentenceSetting(const std::string& setting) {
    const auto eq = setting.find('=');
    const std::string name = Upper(setting.substr(0, eq));
    const std::string value = eq == std::string::npos ? "" : Upper(setting.substr(eq + 1));
    const int index = SentenceIndex(name);
    if (index >= static_cast<int>(kSentenceNames.size()) || (value != "ON" && value != "OFF"))
        throw Failure("Not a sentence setting: " + setting);
    return {index, value == "ON"};
}

// The sentence's type without its talker: "GSV" for "$GPGSV,...".
std::string_view SentenceType(std::string_view text) {
    constexpr std::size_t kTalkerAndType = 5;
    const auto comma = text.find(',');
    if (comma != kTalkerAndType + 1) return {};
    return text.substr(3, 3);
}

// Watches the output until each switched sentence shows its new state: one
// switched on has appeared, one switched off stayed away for kOffQuiet.
class SwitchCheck {
  public:
    explicit SwitchCheck(const std::vector<SentenceSetting>& settings) {
        const auto now = Clock::now();
        for (const SentenceSetting& s : settings) watched_.push_back({s, false, now});
    }
    void Saw(std::string_view type) {
        for (Watched& w : watched_)
            if (type == w.setting.Name()) {
                w.seen = true;
                w.last_seen = Clock::now();
            }
    }
    // The settings that have not shown yet, as "GSV off, GLL on".
    std::string Pending() const {
        std::string pending;
        const auto now = Clock::now();
        for (const Watched& w : watched_) {
            const bool shown = w.setting.on ? w.seen : now - w.last_seen >= kOffQuiet;
            if (!shown) pending += (pending.empty() ? "" : ", ") + w.setting.Text();
        }
        return pending;
    }

  private:
    struct Watched {
        SentenceSetting setting;
        bool seen;
        Clock::time_point last_seen;
    };
    std::vector<Watched> watched_;
};

void VerifySwitched(ReceiverLink& link, Seconds timeout,
                    const std::vector<SentenceSetting>& settings) {
    SwitchCheck check(settings);
    SilenceWatch watch(link, timeout);
    PumpWatched(link, watch, kSwitchEpochs * kEpoch + kSwitchSlack, [&](const Sentence& s) {
        if (IsValidSentence(s)) check.Saw(SentenceType(s.text));
        return check.Pending().empty() ? Next::Stop : Next::Continue;
    });
    ThrowIfStopped("Checking the sentence switch");
    const std::string pending = check.Pending();
    if (!pending.empty())
        throw Failure("The receiver on " + link.PortName() + " did not switch " + pending +
                      " within " + std::to_string(kSwitchEpochs) + " epochs");
}

// The satellite numbers a single channel may take, as NMEA numbers them:
// GPS 01 to 32, SBAS 33 to 64.
constexpr int kFirstSatellite = 1;
constexpr int kLastSatellite = 64;

bool IsTwoDigits(const std::string& text) {
    return text.size() == 2 && std::isdigit(static_cast<unsigned char>(text[0])) &&
           std::isdigit(static_cast<unsigned char>(text[1]));
}

// The fields of a sentence between its address and its checksum.
std::vector<std::string_view> Fields(std::string_view text) {
    text = text.substr(0, text.find('*'));
    std::vector<std::string_view> fields;
    for (std::size_t start = 0;;) {
        const auto comma = text.find(',', start);
        fields.push_back(text.substr(start, comma - start));
        if (comma == std::string_view::npos) return fields;
        start = comma + 1;
    }
}

// True for a GSV sentence that lists the one satellite `prn` and no other.
bool TracksOnly(std::string_view text, int prn) {
    constexpr std::size_t kInView = 3, kFirstPrn = 4;
    if (SentenceType(text) != "GSV") return false;
    const auto fields = Fields(text);
    if (fields.size() <= kFirstPrn) return false;
    return DisplayFormats::integer(fields[kInView]) == 1 &&
           DisplayFormats::integer(fields[kFirstPrn]) == prn;
}

void VerifySingleChannel(ReceiverLink& link, Seconds timeout, const std::string& satellite) {
    const int prn = DisplayFormats::integer(satellite);
    SilenceWatch watch(link, timeout);
    const bool tracked =
        PumpWatched(link, watch, kSwitchEpochs * kEpoch + kSwitchSlack, [&](const Sentence& s) {
            return IsValidSentence(s) && TracksOnly(s.text, prn) ? Next::Stop : Next::Continue;
        });
    ThrowIfStopped("Checking single channel mode");
    if (!tracked)
        throw Failure("The receiver on " + link.PortName() + " did not track SV " + satellite +
                      " alone within " + std::to_string(kSwitchEpochs) + " epochs");
}

}  // namespace

std::string CheckSatellite(const std::string& satellite) {
    if (!IsTwoDigits(satellite)) return {};  // the dialog's own warning follows
    const int prn = DisplayFormats::integer(satellite);
    if (prn >= kFirstSatellite && prn <= kLastSatellite) return {};
    return satellite + " is no satellite a receiver tracks: 01 to 32 (GPS), 33 to 64 (SBAS), " +
           "or off";
}

const std::vector<std::string>& BaudRates() {
    static const std::vector<std::string> rates = [] {
        std::vector<std::string> list;
        for (const auto& r : zorvik::service::kBaudRates) list.emplace_back(r.text);
        return list;
    }();
    return rates;
}

const std::vector<std::string>& SentenceNames() {
    static const std::vector<std::string> names(kSentenceNames.begin(), kSentenceNames.end());
    return names;
}

std::string SentenceGivenTwice(const std::vector<std::string>& settings) {
    std::vector<int> seen;
    for (const std::string& setting : settings) {
        const int index = ParseSentenceSetting(setting).index;
        if (std::find(seen.begin(), seen.end(), index) != seen.end())
            return kSentenceNames[static_cast<std::size_t>(index)];
        seen.push_back(index);
    }
    return {};
}

std::string CheckSentenceSetting(const std::string& setting) {
    try {
        ParseSentenceSetting(setting);
        return {};
    } catch (const Failure& e) {
        return e.what();
    }
}

ReceiverVersions AskVersions(ReceiverLink& link, Seconds timeout) {
    RequireWritten(CMD_FWVersion(), link);
    AwaitRecord(link, timeout, timeout, "version reply",
                [](const ParseNMEAInfo& i) { return i.parse_fw_ver_done == 1; });
    const ParseNMEAInfo info = StateRecord();
    using DisplayFormats::integer;
    return {std::to_string(integer(FieldText(info.fw_ver_major))) + "." +
                std::to_string(integer(FieldText(info.fw_ver_minor))),
            std::to_string(integer(FieldText(info.kernel_ver_major))) + "." +
                std::to_string(integer(FieldText(info.kernel_ver_minor))),
            std::string(FieldText(info.fsa_ver).substr(0, 4))};
}

void ReportVersions(const ReceiverVersions& versions, Report& report) {
    report.Line("F/W Ver: " + versions.firmware);
    report.Line("Kernel Ver: " + versions.kernel);
    report.Line("FSA Ver: " + versions.fsa);
}

nlohmann::ordered_json VersionsJson(const ReceiverVersions& versions) {
    return {{"firmware", versions.firmware}, {"kernel", versions.kernel}, {"fsa", versions.fsa}};
}

void RunSend(const Session& session, const SendOptions& options, Report& report) {
    const std::string text = CommandText(options.text);
    const auto link = OpenReceiver(session);
    // The checksum and the send stay together: no other command runs here.
    CheckSum(text.c_str());
    RequireWritten(CMD_SendNMEACommand(text.c_str(), static_cast<int>(text.size())), *link);
    const std::string sent = text + StateRecord().checksum_text;
    report.Fields()["sent"] = sent;
    report.Line("sent " + sent);
    auto& replies = report.Fields()["replies"] = nlohmann::ordered_json::array();
    link->Pump(SecondsOption(options.wait_seconds), [&](const Sentence& s) {
        if (!IsProprietaryReply(s.text)) return Next::Continue;
        replies.push_back(std::string(s.text));
        report.Line(std::string(s.text));
        return Next::Continue;
    });
    ThrowIfStopped("Waiting for replies");
}

void RunVersion(const Session& session, bool customer, Report& report) {
    const auto link = OpenReceiver(session);
    const Seconds timeout = SecondsOption(session.timeout);
    if (customer) {
        RequireWritten(CMD_CustomerVersion(), *link);
        AwaitRecord(*link, timeout, timeout, "customer version reply",
                    [](const ParseNMEAInfo& i) { return i.parse_customer_fw_ver_done == 1; });
        const std::string text(FieldText(StateRecord().customer_fw_ver));
        report.Fields()["customer"] = text;
        report.Line("Customer FW Version : " + text);
        return;
    }
    const ReceiverVersions versions = AskVersions(*link, timeout);
    report.Fields().update(VersionsJson(versions));
    ReportVersions(versions, report);
}

void RunRestart(const Session& session, const RestartOptions& options, Report& report) {
    const auto link = OpenReceiver(session);
    const Seconds timeout = SecondsOption(session.timeout);
    CMD_Clear_parse_ttff_done();
    const int written = options.kind == "cold"   ? CMD_ColdStart()
                        : options.kind == "warm" ? CMD_WarmStart()
                                                 : CMD_HotStart();
    RequireWritten(written, *link);
    report.Fields()["kind"] = options.kind;
    if (!options.ttff) {
        // The receiver reports its firmware version again when it restarts.
        AwaitRecord(*link, timeout, timeout, "restart report",
                    [](const ParseNMEAInfo& i) { return i.parse_fw_ver_done == 1; });
        report.Line("Receiver restarted (" + options.kind + " start)");
        return;
    }
    const Seconds wait = std::max(kTtffTime, timeout);
    AwaitRecord(*link, timeout, wait,
                "TTFF report within " + DisplayFormats::GeneralText(wait.count()) + " s",
                [](const ParseNMEAInfo& i) { return i.parse_ttff_done == 1; });
    const double ttff = StateRecord().ttff;
    report.Fields()["ttff_s"] = ttff;
    report.Line("TTFF Time (sec) : " + DisplayFormats::OneDecimalText(ttff));
}

// The two-step exchange: the rate command, the receiver's acknowledgement on
// which the library sends the second step by itself, then the port follows
// the receiver to the new rate. Done only when sentences arrive there.
void RunBaud(const Session& session, const std::string& rate, Report& report) {
    const int code = RateCode(rate);
    if (!zorvik::link::RateFollows(session.port))
        throw Failure(zorvik::link::RateFixedText(session.port));
    const auto link = OpenReceiver(session);
    const Seconds timeout = SecondsOption(session.timeout);
    RequireWritten(zorvik::link::SendRateCommand(code), *link);
    // The program's bound: a receiver that has not answered by then did not take the rate.
    const Seconds acknowledgement =
        std::min(timeout, Seconds(zorvik::link::kRateAcknowledgementTime));
    AwaitRecord(*link, timeout, acknowledgement, "acknowledgement of the baud rate command",
                zorvik::link::RateSwitched);
    // The second step must be on the wire at the old rate before the port
    // changes rate; reading on meanwhile costs nothing.
    link->Pump(kSecondStepTime, nullptr);
    link->FollowRateChange(rate);
    const bool heard = HearsValidSentence(*link, timeout);
    ThrowIfStopped("Following the receiver to " + rate + " bps");
    if (!heard) throw Failure(NoReplyText(*link, "sentences") + " after the change");
    report.Fields()["baud"] = std::stol(rate);
    report.Line("Receiver now at " + rate + " bps");
}

void RunSentences(const Session& session, const std::vector<std::string>& settings,
                  Report& report) {
    std::vector<SentenceSetting> parsed;
    for (const std::string& s : settings) parsed.push_back(ParseSentenceSetting(s));
    const auto link = OpenReceiver(session);
    for (const SentenceSetting& s : parsed)
        RequireWritten(CMD_SetNMEASentences(s.index, s.on ? kSwitchOn : kSwitchOff), *link);
    VerifySwitched(*link, SecondsOption(session.timeout), parsed);
    auto& switched = report.Fields()["sentences"] = nlohmann::ordered_json::object();
    for (const SentenceSetting& s : parsed) {
        switched[s.Name()] = s.on;
        report.Line(s.Text());
    }
}

void RunSingleChannel(const Session& session, const std::string& satellite, Report& report) {
    if (satellite != "off") {
        // The dialog's field takes two characters; here they must be the
        // digits of a satellite number, so that nothing else lands in the
        // sentence.
        if (!IsTwoDigits(satellite)) throw Failure(kSvIdWarning);
    }
    const auto link = OpenReceiver(session);
    report.Fields()["single_channel"] = satellite;
    if (satellite == "off") {
        RequireWritten(Exit_Single_Channel_Mode(), *link);
        report.Line("Single channel mode off");
        return;
    }
    RequireWritten(In_Single_Channel_Mode(satellite[0], satellite[1]), *link);
    VerifySingleChannel(*link, SecondsOption(session.timeout), satellite);
    report.Line("Single channel mode on SV " + satellite);
}

}  // namespace cli
