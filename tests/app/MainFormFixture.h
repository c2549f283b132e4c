// What the tests of the logger's main window share: a fixture with a store folder of its own
// and Qt's exception report, choosing a file in the window's file dialogs, and closing the
// message boxes the window shows while keeping their texts.
#pragma once

#include "ComMainForm.h"
#include "MainThread.h"
#include "QtMainThread.h"
#include "QtTestSupport.h"
#include "TestFiles.h"

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

namespace quendal {

using cport::test::ReadFile;

inline void WriteFile(const std::string& APath, const std::string& AData) {
    std::ofstream(APath, std::ios::binary) << AData;
}

// Closes every message box that opens while it exists, and keeps their texts.
class TMessageBoxes : public QObject {
public:
    TMessageBoxes() {
        connect(&FTimer, &QTimer::timeout, this, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr || !box->isVisible()) return;
            FTexts.push_back(box->text());
            box->done(QMessageBox::Ok);
        });
        FTimer.start(10);
    }
    const QStringList& Texts() const { return FTexts; }

private:
    QTimer FTimer;
    QStringList FTexts;
};

class MainForm : public ::testing::Test {
protected:
    MainForm() {
        char folder[] = "/tmp/quendal-form-XXXXXX";
        FFolder = ::mkdtemp(folder);
        ::setenv("CPORT_REGISTRY_DIR", FFolder.c_str(), 1);
        // The logs' journals too go to the test's own folder.
        ::setenv("XDG_STATE_HOME", FFolder.c_str(), 1);
        FPrevious = cport::TMainThread::SetExceptionReport(cport::QtExceptionReport);
        cport::InstallQtMainThreadAndSetupDialog();
    }
    ~MainForm() override {
        cport::TMainThread::SetExceptionReport(FPrevious);
        ::unsetenv("CPORT_REGISTRY_DIR");
        ::unsetenv("XDG_STATE_HOME");
        std::filesystem::remove_all(FFolder);
    }

    std::string Folder() const { return FFolder; }

    // A window on the device at APath, open.
    std::unique_ptr<TForm1> OpenForm(const std::string& APath) {
        auto form = std::make_unique<TForm1>();
        form->ComPort->SetPort(APath);
        form->Button_Open->click();
        EXPECT_TRUE(form->ComPort->Connected());
        return form;
    }

public:
    // Runs the file dialog that AClick opens, choosing APath, and (with AWait) waits until the
    // window has saved or loaded it.
    static void ChooseFile(QPushButton* AClick, const std::string& APath, bool AWait = true) {
        // Once the dialog is active, as a user types only then: the dialog drops the list's
        // selection (the file chosen the last time) only while the name field has the focus,
        // and would otherwise return that file as well, first.
        cport::test::TModalDriver driver(cport::test::OnceActive([&](QWidget* AModal) {
            auto* dialog = qobject_cast<QFileDialog*>(AModal);
            ASSERT_NE(dialog, nullptr);
            // As a user does: type the name and press Enter.
            auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            ASSERT_NE(name, nullptr);
            name->setFocus();
            name->setText(QString::fromStdString(APath));
            QTest::keyClick(name, Qt::Key_Return);
        }));
        AClick->click();
        EXPECT_TRUE(driver.Done());
        if (!AWait) return;
        auto* form = qobject_cast<TForm1*>(AClick->window());
        ASSERT_NE(form, nullptr);
        EXPECT_TRUE(cport::test::WaitFor([&] { return !form->Busy(); }, std::chrono::seconds(30)));
    }

private:
    std::string FFolder;
    cport::TMainThread::TExceptionReport FPrevious;
};

} // namespace quendal
