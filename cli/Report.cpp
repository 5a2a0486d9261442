#include "Report.h"

#include <iostream>

namespace cli {

std::string JsonLine(const nlohmann::ordered_json& object) {
    return object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

void Report::Line(const std::string& text) const {
    if (session_.json) return;
    *out_ << text << std::endl;
    RequireOutputWritten();
}

void Report::Object(const std::string& port, const nlohmann::ordered_json& fields) const {
    nlohmann::ordered_json object = {{"port", port}};
    object.update(fields);
    *out_ << JsonLine(object) << std::endl;
    RequireOutputWritten();
}

void Report::Close(bool ok, const std::string* error) const {
    if (!session_.json) return;
    nlohmann::ordered_json fields = {{"ok", ok}};
    if (error) fields["error"] = *error;
    fields.update(fields_);
    Object(session_.port, fields);
}

void Report::Succeeded() const {
    if (closing_object_) Close(true, nullptr);
}

void Report::Failed(const std::string& error) const {
    Close(false, &error);
}

}  // namespace cli
