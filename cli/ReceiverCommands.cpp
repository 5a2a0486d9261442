// send, version, restart, baud, sentences and single-channel: commands that
// write a command sentence through the library and, where the receiver
// answers, wait for its answer in the state record.
#include <algorithm>
#include <cctype>
#include <iostream>

#include "BaudChange.h"
#include "Commands.h"
#include "DisplayFormats.h"
#include "ReceiverLink.h"
#include "zorvik/service/baud_rates.h"
#include "zorvik/service/receiver_settings.h"

namespace cli {

namespace {

using DisplayFormats::FieldText;

// How long the receiver may take to answer a query or a command.
constexpr Seconds kReplyTime{5.0};
// A restart without --ttff waits this long for the receiver's restart report.
constexpr Seconds kRestartReportTime{10.0};
// With --ttff, the wait for the receiver's time to first fix report.
constexpr Seconds kTtffTime{120.0};

// Enough for the second step of the baud-rate exchange (14 bytes) to leave
// at the slowest rate, with a margin.
constexpr Seconds kSecondStepTime{0.25};

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

// A pasted sentence brings its own checksum digits; the library appends them.
std::string WithoutChecksum(std::string text) {
    const auto star = text.rfind('*');
    if (star != std::string::npos && star + 3 == text.size() &&
        std::isxdigit(static_cast<unsigned char>(text[star + 1])) &&
        std::isxdigit(static_cast<unsigned char>(text[star + 2])))
        text.resize(star + 1);
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

bool ChecksumMatches(std::string_view text) {
    if (text.find('*') == std::string_view::npos) return false;
    const std::string copy(text);
    return Calculate_CheckSum(copy.c_str()) == 1;
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

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

struct SentenceSetting {
    int index = 0;
    bool on = false;
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

}  // namespace

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

std::string CheckSentenceSetting(const std::string& setting) {
    try {
        ParseSentenceSetting(setting);
        return {};
    } catch (const Failure& e) {
        return e.what();
    }
}

void RunSend(const Session& session, const SendOptions& options) {
    const std::string text = CommandText(options.text);
    ReceiverLink link(session.port, session.baud);
    // The checksum and the send stay together: no other command runs here.
    CheckSum(text.c_str());
    RequireWritten(CMD_SendNMEACommand(text.c_str(), static_cast<int>(text.size())), link);
    std::cout << "sent " << text << StateRecord().checksum_text << std::endl;
    link.Pump(SecondsOption(options.wait_seconds), [](const Sentence& s) {
        if (IsProprietaryReply(s.text)) std::cout << s.text << std::endl;
        return Next::Continue;
    });
}

void RunVersion(const Session& session, bool customer) {
    ReceiverLink link(session.port, session.baud);
    if (customer) {
        RequireWritten(CMD_CustomerVersion(), link);
        if (!link.WaitFor(kReplyTime,
                          [](const ParseNMEAInfo& i) { return i.parse_customer_fw_ver_done == 1; }))
            throw Failure(NoReplyText(link, "customer version reply"));
        std::cout << "Customer FW Version : " << FieldText(StateRecord().customer_fw_ver)
                  << std::endl;
        return;
    }
    RequireWritten(CMD_FWVersion(), link);
    if (!link.WaitFor(kReplyTime, [](const ParseNMEAInfo& i) { return i.parse_fw_ver_done == 1; }))
        throw Failure(NoReplyText(link, "version reply"));
    const ParseNMEAInfo info = StateRecord();
    using DisplayFormats::integer;
    std::cout << "F/W Ver: " << integer(FieldText(info.fw_ver_major)) << "."
              << integer(FieldText(info.fw_ver_minor)) << "\n"
              << "Kernel Ver: " << integer(FieldText(info.kernel_ver_major)) << "."
              << integer(FieldText(info.kernel_ver_minor)) << "\n"
              << "FSA Ver: " << FieldText(info.fsa_ver).substr(0, 4) << std::endl;
}

void RunRestart(const Session& session, const RestartOptions& options) {
    ReceiverLink link(session.port, session.baud);
    CMD_Clear_parse_ttff_done();
    const int written = options.kind == "cold"   ? CMD_ColdStart()
                        : options.kind == "warm" ? CMD_WarmStart()
                                                 : CMD_HotStart();
    RequireWritten(written, link);
    if (!options.ttff) {
        // The receiver reports its firmware version again when it restarts.
        const Seconds wait = options.timeout ? SecondsOption(*options.timeout) : kRestartReportTime;
        if (!link.WaitFor(wait, [](const ParseNMEAInfo& i) { return i.parse_fw_ver_done == 1; }))
            throw Failure(NoReplyText(link, "restart report"));
        std::cout << "Receiver restarted (" << options.kind << " start)" << std::endl;
        return;
    }
    const Seconds wait = options.timeout ? SecondsOption(*options.timeout) : kTtffTime;
    if (!link.WaitFor(wait, [](const ParseNMEAInfo& i) { return i.parse_ttff_done == 1; }))
        throw Failure(NoReplyText(link, "TTFF report") + " within " +
                      DisplayFormats::GeneralText(wait.count()) + " s");
    std::cout << "TTFF Time (sec) : " << DisplayFormats::OneDecimalText(StateRecord().ttff)
              << std::endl;
}

// The two-step exchange: the rate command, the receiver's acknowledgement on
// which the library sends the second step by itself, then the port follows
// the receiver to the new rate. Done only when sentences arrive there.
void RunBaud(const Session& session, const std::string& rate) {
    const int code = RateCode(rate);
    ReceiverLink link(session.port, session.baud);
    RequireWritten(zorvik::link::SendRateCommand(code), link);
    if (!link.WaitFor(kReplyTime, zorvik::link::RateSwitched))
        throw Failure(NoReplyText(link, "acknowledgement of the baud rate command"));
    // The second step must be on the wire at the old rate before the port
    // changes rate; reading on meanwhile costs nothing.
    link.Pump(kSecondStepTime, nullptr);
    link.FollowRateChange(rate);
    const bool heard = link.Pump(kReplyTime, [](const Sentence& s) {
        return ChecksumMatches(s.text) ? Next::Stop : Next::Continue;
    });
    if (!heard) throw Failure(NoReplyText(link, "sentences") + " after the change");
    std::cout << "Receiver now at " << rate << " bps" << std::endl;
}

void RunSentences(const Session& session, const std::vector<std::string>& settings) {
    std::vector<SentenceSetting> parsed;
    for (const std::string& s : settings) parsed.push_back(ParseSentenceSetting(s));
    ReceiverLink link(session.port, session.baud);
    for (const SentenceSetting& s : parsed) {
        RequireWritten(CMD_SetNMEASentences(s.index, s.on ? kSwitchOn : kSwitchOff), link);
        std::cout << kSentenceNames[static_cast<std::size_t>(s.index)] << (s.on ? " on" : " off")
                  << std::endl;
    }
}

void RunSingleChannel(const Session& session, const std::string& satellite) {
    if (satellite == "off") {
        ReceiverLink link(session.port, session.baud);
        RequireWritten(Exit_Single_Channel_Mode(), link);
        std::cout << "Single channel mode off" << std::endl;
        return;
    }
    // The dialog's field takes two characters; here they must be the digits
    // of a satellite number, so that nothing else lands in the sentence.
    const bool two_digits = satellite.size() == 2 &&
                            std::isdigit(static_cast<unsigned char>(satellite[0])) &&
                            std::isdigit(static_cast<unsigned char>(satellite[1]));
    if (!two_digits) throw Failure(kSvIdWarning);
    ReceiverLink link(session.port, session.baud);
    RequireWritten(In_Single_Channel_Mode(satellite[0], satellite[1]), link);
    std::cout << "Single channel mode on SV " << satellite << std::endl;
}

}  // namespace cli
