#include "orvo/testing/qt_test_main.h"

#include <QApplication>
#include <QtTest>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace orvo::testing {
namespace {

std::map<std::string, QtTestFactory>& Registry() {
    static std::map<std::string, QtTestFactory> registry;
    return registry;
}

}  // namespace

bool RegisterQtTest(const char* name, QtTestFactory make) {
    Registry()[name] = std::move(make);
    return true;
}

}  // namespace orvo::testing

int main(int argc, char** argv) {
    const auto& registry = orvo::testing::Registry();
    const auto found = argc > 1 ? registry.find(argv[1]) : registry.end();
    if (found == registry.end()) {
        std::fprintf(stderr, "usage: %s CLASS [QTest arguments]\nclasses:", argv[0]);
        for (const auto& entry : registry) std::fprintf(stderr, " %s", entry.first.c_str());
        std::fprintf(stderr, "\n");
        return 2;
    }
    // QTest sees the program name and the arguments after the class.
    std::vector<char*> args{argv[0]};
    for (int i = 2; i < argc; ++i) args.push_back(argv[i]);
    int count = static_cast<int>(args.size());
    QApplication app(count, args.data());
    app.setAttribute(Qt::AA_Use96Dpi, true);
    const std::unique_ptr<QObject> test = found->second();
    return QTest::qExec(test.get(), count, args.data());
}
