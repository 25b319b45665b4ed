#include "engine/EchoTester.h"

// Placeholder until the test run is written.
bool EchoTester::RunTest(const TestSettings&, TestResults&, TestUi&) const { return false; }
