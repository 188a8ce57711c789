#include "TestRegistry.h"

#include <QByteArray>
#include <QTest>
#include <utility>
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
    // Qt Test takes bare function names, which every class would be asked
    // for. "Class::function[:tag]" goes to that class alone ("Class::" runs
    // all of it), and classes that no such argument names are left out.
    std::vector<std::pair<QByteArray, QByteArray>> picks; // class, function[:tag]
    std::vector<char*> common;
    for (int i = 0; i < argc; ++i) {
        const QByteArray argument(argv[i]);
        const qsizetype colon = argument.indexOf(':');
        if (i > 0 && !argument.startsWith('-') && colon > 0 && argument.mid(colon, 2) == "::")
            picks.push_back({argument.left(colon), argument.mid(colon + 2)});
        else
            common.push_back(argv[i]);
    }
    int failures = 0;
    for (const TestFactory& factory : registry()) {
        const std::unique_ptr<QObject> test = factory();
        const QByteArray className = test->metaObject()->className();
        std::vector<QByteArray> functions;
        bool named = false;
        for (const auto& [pickedClass, function] : picks) {
            if (pickedClass != className)
                continue;
            named = true;
            if (!function.isEmpty())
                functions.push_back(function);
        }
        if (!picks.empty() && !named)
            continue;
        std::vector<char*> arguments = common;
        for (QByteArray& function : functions)
            arguments.push_back(function.data());
        failures += QTest::qExec(test.get(), int(arguments.size()), arguments.data());
    }
    return failures;
}
