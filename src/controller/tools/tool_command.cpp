#include "controller/tools/tool_command.h"

namespace ZELKUtil {

ToolCommand::ToolCommand(std::string program, StartMode mode)
    : program_(std::move(program)), mode_(mode) {}

ToolCommand& ToolCommand::Options(const std::vector<std::string>& options) {
    for (const std::string& option : options) {
        arguments_.push_back({option, false});
    }
    return *this;
}

ToolCommand& ToolCommand::File(const std::string& name) {
    arguments_.push_back({name, true});
    return *this;
}

ToolCommand& ToolCommand::WorkingDirectory(std::string folder) {
    workingDirectory_ = std::move(folder);
    return *this;
}

ToolCommand& ToolCommand::TextLead(std::string lead) {
    lead_ = std::move(lead);
    return *this;
}

std::string ToolCommand::ArgumentText() const {
    std::string text = lead_;
    for (std::size_t i = 0; i < arguments_.size(); ++i) {
        text += (i == 0 ? "" : " ") + arguments_[i].text;
    }
    return text;
}

StartRequest ToolCommand::Request() const {
    StartRequest request;
    request.program = program_;
    request.mode = mode_;
    request.workingDirectory = workingDirectory_;
    for (const Argument& argument : arguments_) {
        if (!argument.file) {
            request.arguments.push_back(argument.text);
        } else if (!argument.text.empty()) {
            const bool optionLike = argument.text.front() == '-';
            request.arguments.push_back(optionLike ? "./" + argument.text : argument.text);
        }
    }
    return request;
}

}  // namespace ZELKUtil
