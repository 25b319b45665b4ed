// CliUi: the command line's side of a test run. It keeps the last status text and every
// message for the report, writes each message to the error stream at once, and draws a
// one-line progress indicator there when asked to (only when that stream is a terminal).
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "engine/TestUi.h"

namespace tarnwell {

class CliUi : public TestUi {
public:
    CliUi(std::ostream& err, bool showProgress);
    ~CliUi() override;

    void SetStatus(const std::string& text) override;
    void ShowMessage(const std::string& text) override;  // then its details, on the error stream
    void AddDetail(const std::string& line) override;
    void SetProgressRange(int count) override;
    void SetProgressPos(int position) override;
    bool KeepGoing() override;  // false once an interrupt signal has been caught

    // Erases the progress line, if one is drawn, so that what follows starts on a clean line.
    void EndProgress();

    const std::string& Status() const { return status_; }
    const std::vector<std::string>& Messages() const { return messages_; }
    const std::vector<std::string>& Details() const { return details_; }

private:
    void DrawProgress();

    std::ostream& err_;
    bool showProgress_;
    bool drawn_ = false;
    std::string status_;
    std::vector<std::string> messages_;
    std::vector<std::string> details_;  // every detail line so far
    std::size_t detailsShown_ = 0;      // of them, those already printed
    int range_ = 0;
    int percent_ = -1;  // last percentage drawn; -1 before the first
};

}  // namespace tarnwell
