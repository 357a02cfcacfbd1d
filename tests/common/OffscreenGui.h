#pragma once

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <memory>

// Text drawing needs a QGuiApplication; the offscreen platform keeps the tests headless.
// A test file registers it once:
//   ::testing::Environment* const gui = ::testing::AddGlobalTestEnvironment(new OffscreenGui);
class OffscreenGui : public ::testing::Environment
{
public:
    void SetUp() override
    {
        if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "tests";
        static char* argv[] = {name, nullptr};
        m_app = std::make_unique<QGuiApplication>(argc, argv);
    }
    void TearDown() override { m_app.reset(); }

private:
    std::unique_ptr<QGuiApplication> m_app;
};
