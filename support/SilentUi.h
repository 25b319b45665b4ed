// SilentUi: a TestUi that shows nothing, for runs whose results are all that matter (the
// benchmarks, the fuzz targets, tests that look only at what a run returns).
#pragma once

#include <string>

#include "engine/TestUi.h"

namespace tarnwell {

class SilentUi : public TestUi {
public:
    void SetStatus(const std::string&) override {}
    void ShowMessage(const std::string&) override {}
    void SetProgressRange(int) override {}
    void SetProgressPos(int) override {}
};

}  // namespace tarnwell
