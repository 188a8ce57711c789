#include "TestRegistry.h"

#include <QTest>
#include <vector>

namespace {

std::vector<TestFactory>& registry()
{
    static std::vector<TestFactory> factories;
    return factories;
}

} // namespace

bool RegisterTest(TestFactory factory)
{
    registry().push_back(std::move(factory));
    return true;
}

int RunRegisteredTests(int argc, char** argv)
{
    int failures = 0;
    for (const TestFactory& factory : registry()) {
        const std::unique_ptr<QObject> test = factory();
        failures += QTest::qExec(test.get(), argc, argv);
    }
    return failures;
}
