#include "ui/BackgroundRun.h"

#include <utility>

#include "evidence/WhitenedEvidence.h"

namespace tarnwell {

BackgroundRun::BackgroundRun(TestUi& window, RunRequest request, VerdictWords words, Done done)
    : window_(window),
      done_(std::move(done))
{
    outcome_.request = std::move(request);
    thread_ = std::thread(&BackgroundRun::Run, this, std::move(words));
}

BackgroundRun::~BackgroundRun()
{
    {
        // Under the lock, so a run about to wait for a message box sees the request.
        const std::lock_guard lock(mutex_);
        stop_ = true;
    }
    messageClosed_.notify_all();
    thread_.join();
}

void BackgroundRun::Cancel() { stop_ = true; }

template <class Call>
void BackgroundRun::Post(Call call)
{
    QMetaObject::invokeMethod(relay_.get(), std::move(call), Qt::QueuedConnection);
}

void BackgroundRun::Run(VerdictWords words)
{
    const RunRequest& request = outcome_.request;
    outcome_.report = RunAndReport(request.settings, request.deviceType, *this, outcome_.results, words,
                                   &outcome_.analysis);
    AddWhitenedEvidence(outcome_.analysis);
    outcome_.cancelled = !outcome_.report && stop_;
    // The outcome is complete before the call is queued, and the queue orders the two.
    Post([this] { done_(outcome_); });
}

void BackgroundRun::SetStatus(const std::string& text)
{
    Post([this, text] { window_.SetStatus(text); });
}

void BackgroundRun::ShowMessage(const std::string& text)
{
    std::unique_lock lock(mutex_);
    if (stop_) {
        return;  // nobody is left to read it
    }
    messageOpen_ = true;
    Post([this, text] {
        window_.ShowMessage(text);
        {
            const std::lock_guard closed(mutex_);
            messageOpen_ = false;
        }
        messageClosed_.notify_all();
    });
    messageClosed_.wait(lock, [this] { return !messageOpen_ || stop_; });
}

void BackgroundRun::AddDetail(const std::string& line)
{
    Post([this, line] { window_.AddDetail(line); });  // queued ahead of its message
}

void BackgroundRun::SetProgressRange(int count)
{
    Post([this, count] { window_.SetProgressRange(count); });
}

void BackgroundRun::SetProgressPos(int position)
{
    position_ = position;
    if (!positionPosted_.exchange(true)) {
        Post([this] {
            positionPosted_ = false;
            window_.SetProgressPos(position_);
        });
    }
}

bool BackgroundRun::KeepGoing() { return !stop_; }

}  // namespace tarnwell
