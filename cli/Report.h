// What one run reports on standard output: the command's result lines in
// text mode, or with --json one object (JSON Lines) that always holds
// "port" and "ok", and "error" on failure.
#pragma once

#include <iostream>
#include <nlohmann/json.hpp>
#include <string>

#include "CliSupport.h"

namespace cli {

class Report {
  public:
    explicit Report(const Session& session) : session_(session) {}

    bool Json() const { return session_.json; }
    // A result line for standard output (text mode only).
    void Line(const std::string& text) const;
    // The command's fields of the JSON object, filled as the run goes, so
    // that a failed run still reports what it had found.
    nlohmann::ordered_json& Fields() { return fields_; }
    // A command that prints its own objects (monitor's epochs, the port
    // list) has no closing object on success.
    void NoClosingObject() { closing_object_ = false; }
    // Lines and objects go to standard error instead (record -, whose
    // recording is standard output).
    void ResultsToStderr() { out_ = &std::cerr; }
    // Another object for standard output, "port" first.
    void Object(const std::string& port, const nlohmann::ordered_json& fields) const;

    // The closing object of a run that succeeded or failed (--json only).
    void Succeeded() const;
    void Failed(const std::string& error) const;

  private:
    void Close(bool ok, const std::string* error) const;

    const Session& session_;
    nlohmann::ordered_json fields_ = nlohmann::ordered_json::object();
    bool closing_object_ = true;
    std::ostream* out_ = &std::cout;
};

// One JSON Lines record: compact, and a garbled text from the receiver
// cannot end the run (bytes that are not UTF-8 are replaced).
std::string JsonLine(const nlohmann::ordered_json& object);

}  // namespace cli
