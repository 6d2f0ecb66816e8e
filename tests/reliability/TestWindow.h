#pragma once
// The real main window, opened the way the program opens it (FormCreate binds port 60001), with
// every box recorded instead of shown and every delivery counted on its way to the receive handler.
#include "app/MessageBoxes.h"
#include "app/Unit1.h"

#include <QString>

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct SeenBox {
    QString text;
    bool windowEnabled; // while the box was up
};

class TestWindow {
  public:
    // Starts from the program's initial state: empty module state and a new window.
    TestWindow();
    ~TestWindow();
    TestWindow(const TestWindow&) = delete;
    TestWindow& operator=(const TestWindow&) = delete;

    TForm1& Form() { return *FForm; }
    const std::vector<SeenBox>& Boxes() const { return FBoxes; }
    std::size_t Deliveries() const { return FDeliveries; }

    // Called for every delivery before the receive handler sees it; keep it cheap, floods run here.
    std::function<void(const std::string& senderIp, std::size_t bytes)> OnDelivery;

    // Row of the device listed with both this address and this MAC text; -1 when there is none.
    int ListedRow(const QString& ip, const QString& mac) const;
    // The user's click on a row of the MAC list: the read of that device starts.
    void ClickDevice(int row);

    // Destroys the window now, the way the program's shutdown does (endpoint first).
    void Close();

  private:
    std::unique_ptr<TForm1> FForm;
    std::vector<SeenBox> FBoxes;
    std::size_t FDeliveries = 0;
};

// The namespace's UDP counters (/proc/net/snmp), for the figures of a flood.
struct UdpCounters {
    long long inDatagrams = 0;
    long long inErrors = 0;
    long long rcvbufErrors = 0;
};
UdpCounters ReadUdpCounters();
// Bytes waiting in the receive queue of the namespace's UDP socket bound to this local port
// (/proc/net/udp); 0 when there is none.
long ReceiveQueueBytes(int port);

// CPU seconds (user + system) this process has used so far.
double ProcessCpuSeconds();
