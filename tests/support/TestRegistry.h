#pragma once

#include <QObject>
#include <functional>
#include <memory>

// Lets one test executable hold several Qt Test classes, one per source file:
// each file registers its class, and the executable's main runs them all.
using TestFactory = std::function<std::unique_ptr<QObject>()>;
bool RegisterTest(TestFactory factory);
// Runs every registered class; returns the number of failed test functions.
// An argument "Class::function[:tag]" runs that function of that class alone.
int RunRegisteredTests(int argc, char** argv);

#define TALVEN77_REGISTER_TEST(Class) \
    static const bool registered##Class = RegisterTest([] { return std::make_unique<Class>(); })
