// Every test of a program starts from what a freshly started program has, so the tests of one
// program can run in one process, in any order: a private root and simulated board per test, and,
// after the test, its windows closed, the system's singletons deleted, the globals put back.
#pragma once

#include <gtest/gtest.h>

#include <memory>

namespace zeltest {

class TempRoot;

// What a test may leave behind in the process, undone. Only tests call this: the program itself
// makes its singletons once and keeps them.
void resetSystemState();

// Runs each test between a fresh root and resetSystemState(). main() installs it before any test.
class IsolationListener : public ::testing::EmptyTestEventListener {
public:
    IsolationListener();
    ~IsolationListener() override;
    void OnTestStart(const ::testing::TestInfo& test) override;
    void OnTestEnd(const ::testing::TestInfo& test) override;

private:
    std::unique_ptr<TempRoot> root_;
};

}  // namespace zeltest
