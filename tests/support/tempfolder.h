#pragma once

#include <QDir>
#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace testsupport {

// Each test runs in an empty folder of its own, made the current directory
// for the test's length: the windows and the reminder find tasks.txt there.
// Base: the gtest fixture it extends (::testing::Test, TestWithParam<T>).
template <class Base = ::testing::Test> class InTempFolder : public Base {
protected:
    void SetUp() override
    {
        m_oldCurrent = QDir::currentPath();
        ASSERT_TRUE(m_folder.isValid());
        ASSERT_TRUE(QDir::setCurrent(m_folder.path()));
    }
    void TearDown() override { QDir::setCurrent(m_oldCurrent); }

    const QTemporaryDir &folder() const { return m_folder; }

private:
    QTemporaryDir m_folder;
    QString m_oldCurrent;
};

}  // namespace testsupport
