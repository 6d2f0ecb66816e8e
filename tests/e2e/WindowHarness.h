#pragma once
// The real main window, shown offscreen, with what a user would have seen recorded: every box, and
// for every datagram the window took in, the status text and enabled state just before it arrived.
#include "app/MessageBoxes.h"
#include "app/Unit1.h"

#include <QString>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

class QListWidget;

// Readable failure messages for QString comparisons.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

struct SeenDatagram {
    std::string hex;
    QString statusBefore;
    bool windowEnabled;
    bool setButtonEnabled;
};

struct SeenBox {
    BoxRecord box;
    bool windowEnabled;
    QString statusText;
};

class WindowHarness {
  public:
    // Starts from the program's initial state: a new window and empty module state.
    WindowHarness();
    ~WindowHarness();

    TForm1& Form() { return *FForm; }
    const std::vector<SeenDatagram>& Datagrams() const { return FDatagrams; }
    const std::vector<SeenBox>& Boxes() const { return FBoxes; }

    // A user's mouse click on a row of a device list.
    void ClickRow(QListWidget& list, int row);
    // Waits until the record of the read under way has been shown.
    bool WaitForRecord(int timeoutMs = 5000);
    // Waits until the window has taken in at least count datagrams.
    bool WaitForDatagrams(std::size_t count, int timeoutMs = 5000);

    std::vector<QString> ListTexts(const QListWidget& list) const;
    // The window's fields in record order: mode entry, device IP, mask, gateway, remote IP, port,
    // speed entry.
    std::string FieldsText() const;

  private:
    std::unique_ptr<TForm1> FForm;
    std::vector<SeenDatagram> FDatagrams;
    std::vector<SeenBox> FBoxes;
};
