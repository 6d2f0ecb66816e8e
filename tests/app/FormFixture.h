#pragma once
// A fresh main window per test, with every box recorded instead of shown.
#include "app/MessageBoxes.h"
#include "adapter/QtWakeUp.h"
#include "app/Unit1.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

class QWidget;

class FormFixture : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Shows the window and waits until it is the active window, as at start-up.
    void ShowActive();
    // The user's way into an edit: a left click on it.
    void ClickInto(QWidget& widget);

    std::unique_ptr<QtWakeUpGuard> wakeUp;
    std::unique_ptr<TForm1> form;
    std::vector<BoxRecord> boxes;
};

// Fails the test on any box shown while no window is under test.
void RecordNoBoxes();
