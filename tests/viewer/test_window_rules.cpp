// The window's rules that need no window and no QApplication: the keyboard table that sets
// the shortcuts and writes Help, and where the cache's memory budget comes from.
#include <QCoreApplication>
#include <QKeySequence>
#include <QSettings>
#include <QStringList>
#include <QTemporaryDir>
#include <map>
#include <set>

#include <gtest/gtest.h>

#include "CacheBudget.h"
#include "KeyboardTable.h"
#include "MemoryBudget.h"
#include "SliceCache.h"

using ImageViewer::KeyEntry;

// Every shortcut names an action once and keys Qt can read; no key does two things; Help
// lists every entry with what it does.
TEST(KeyboardTable, EveryKeyReadableAndBoundOnceAndListedInHelp)
{
    std::set<std::string> actions;
    std::map<QKeySequence, std::string> bound;
    const QString help = ImageViewer::KeyboardHelpHtml();
    for (const KeyEntry& entry : ImageViewer::KeyboardTable()) {
        ASSERT_NE(entry.keys, nullptr);
        ASSERT_NE(entry.what, nullptr);
        EXPECT_TRUE(help.contains(QString::fromLatin1(entry.what).toHtmlEscaped())) << entry.what;
        if (!entry.action) {
            EXPECT_TRUE(help.contains(QString::fromLatin1(entry.keys).toHtmlEscaped())) << entry.keys;
            continue;
        }
        EXPECT_TRUE(actions.insert(entry.action).second) << entry.action << " listed twice";
        const QStringList alternatives = QString::fromLatin1(entry.keys).split(QStringLiteral("; "));
        const QList<QKeySequence> keys =
            QKeySequence::listFromString(QString::fromLatin1(entry.keys), QKeySequence::PortableText);
        ASSERT_EQ(keys.size(), alternatives.size()) << entry.keys;
        for (int i = 0; i < keys.size(); ++i) {
            // A key Qt cannot read comes back as nothing or as other text.
            EXPECT_FALSE(keys[i].isEmpty()) << entry.action << ": " << alternatives[i].toStdString();
            EXPECT_EQ(keys[i].toString(QKeySequence::PortableText), alternatives[i]) << entry.action;
            const auto [at, fresh] = bound.emplace(keys[i], entry.action);
            EXPECT_TRUE(fresh) << alternatives[i].toStdString() << " is both " << at->second << " and " << entry.action;
        }
    }
    EXPECT_GE(actions.size(), 10u);
}

// The budget of the slice cache: the command line's, else the preferences' (0 meaning the
// default), else the default.
TEST(CacheBudget, CommandLineThenPreferencesThenDefault)
{
    QTemporaryDir dir;
    QCoreApplication::setOrganizationName(QStringLiteral("LumoraTest"));
    QCoreApplication::setApplicationName(QStringLiteral("LumoraTest"));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.path());
    const size_t mib = size_t(1) << 20;
    ImageReader::SetProcessMemoryBudget(0);
    const size_t fallback = ImageReader::SliceCache<unsigned short>::DefaultBudget();
    struct Case
    {
        size_t commandLine;
        int stored; // -1: not set
        size_t expected;
    };
    const Case cases[] = {
        {0, -1, fallback}, {0, 0, fallback}, {0, -5, fallback}, {0, 300, 300 * mib}, {50, 300, 50 * mib}, {50, -1, 50 * mib},
    };
    for (const Case& c : cases) {
        QSettings settings;
        if (c.stored == -1)
            settings.remove(QStringLiteral("cacheBudgetMB"));
        else
            settings.setValue(QStringLiteral("cacheBudgetMB"), c.stored);
        settings.sync();
        ImageViewer::SetCacheBudgetOverrideMB(c.commandLine);
        EXPECT_EQ(ImageViewer::CacheBudgetBytes(), c.expected) << c.commandLine << " " << c.stored;
        // Readers check what a file makes them allocate against the same figure.
        EXPECT_EQ(ImageReader::MemoryBudget(), c.expected) << c.commandLine << " " << c.stored;
    }
    ImageViewer::SetCacheBudgetOverrideMB(0);
    ImageReader::SetProcessMemoryBudget(0);
}
