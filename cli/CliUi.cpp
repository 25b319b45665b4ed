#include "cli/CliUi.h"

#include "cli/Interrupt.h"

namespace tarnwell {

CliUi::CliUi(std::ostream& err, bool showProgress) : err_(err), showProgress_(showProgress) {}

CliUi::~CliUi() { EndProgress(); }

void CliUi::SetStatus(const std::string& text)
{
    status_ = text;
    if (showProgress_) {
        DrawProgress();
    }
}

void CliUi::ShowMessage(const std::string& text)
{
    messages_.push_back(text);
    EndProgress();
    err_ << text << '\n';
    for (; detailsShown_ < details_.size(); ++detailsShown_) {
        err_ << details_[detailsShown_] << '\n';
    }
    err_ << std::flush;
}

void CliUi::AddDetail(const std::string& line) { details_.push_back(line); }

void CliUi::SetProgressRange(int count)
{
    range_ = count;
    percent_ = -1;
}

void CliUi::SetProgressPos(int position)
{
    if (!showProgress_ || range_ <= 0) {
        return;
    }
    // Widened: position * 100 can exceed int for long captures.
    const long long percent = static_cast<long long>(position) * 100 / range_;
    if (percent == percent_) {
        return;
    }
    percent_ = static_cast<int>(percent);
    DrawProgress();
}

bool CliUi::KeepGoing() { return CaughtSignal() == 0; }

void CliUi::EndProgress()
{
    if (drawn_) {
        err_ << "\r\x1b[K" << std::flush;
        drawn_ = false;
    }
}

void CliUi::DrawProgress()
{
    err_ << "\r\x1b[K" << status_;
    if (percent_ >= 0) {
        err_ << ' ' << percent_ << '%';
    }
    err_ << std::flush;
    drawn_ = true;
}

}  // namespace tarnwell
