#include "TestRegistry.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    return RunRegisteredTests(argc, argv);
}
