#pragma once

#include <functional>

// Runs one of the operator's commands. An error that leaves it (the record set layer's
// exception, or any other) ends that command only: its reason is shown to the operator
// once through the prompt, and the program goes on. Qt must never see an exception
// leave a slot or an event handler. True when the command ran to its end.
bool RunReportingErrors(const std::function<void()>& command);
