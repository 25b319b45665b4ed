// TestUi: the only way a test run reaches its user. The window and the command line each
// implement it. A front end may show the calls from another thread, in the order made;
// ShowMessage still returns only once the user has closed the message.
#pragma once

#include <string>

namespace tarnwell {

class TestUi {
public:
    virtual ~TestUi() = default;
    virtual void SetStatus(const std::string& text) = 0;    // status line, shown at once
    virtual void ShowMessage(const std::string& text) = 0;  // modal message, returns when closed
    // A line that names a file and the system's reason ("rx.pcm: No such file or directory"),
    // for the message that follows; a front end shows it with that message.
    virtual void AddDetail(const std::string& line) { (void)line; }
    virtual void SetProgressRange(int count) = 0;  // progress runs 0..count
    virtual void SetProgressPos(int position) = 0;
    // Asked once per frame of the pass: false stops the run there ("Test cancelled", no
    // message box, the output left empty, result false). Costs a virtual call per 10 ms.
    virtual bool KeepGoing() { return true; }
};

}  // namespace tarnwell
