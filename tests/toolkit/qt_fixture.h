// A QApplication for the whole test program and a fresh TQtApplication for
// each test, whose message boxes are recorded instead of shown.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <memory>
#include <vector>

#include "toolkit/qt/qtapplication.h"

class QtFixture : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        static int Argc = 1;
        static char Name[] = "toolkit_qt_binding";
        static char* Argv[] = {Name, nullptr};
        if (!QApplication::instance()) new QApplication(Argc, Argv);  // lives until exit
    }
    void SetUp() override
    {
        App = std::make_unique<TQtApplication>();
        App->MessageBoxHook = [this](const UnicodeString& Text, const UnicodeString&, int) {
            Boxes.push_back(Text);
            BoxOnMain.push_back(IsMainThread());
            return MsgBox::IdOk;
        };
    }
    void TearDown() override { App.reset(); }
    std::unique_ptr<TQtApplication> App;
    std::vector<UnicodeString> Boxes;
    std::vector<bool> BoxOnMain;  // whether each box was asked for on the main thread
};
