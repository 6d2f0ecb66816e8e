// SPDX-License-Identifier: GPL-3.0-or-later
// What the listener hands to OnUDPRead, on which thread, in which order, and what survives failures.
// All on 127.0.0.1 with ephemeral ports.
#include "FakeNetwork.h"
#include "net/IdException.h"
#include "net/IdStack.h"
#include "net/IdThread.h"
#include "net/IdUDPServer.h"
#include "net/MainThreadQueue.h"
#include "NetTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <random>
#ifndef _WIN32
#include <csignal>
#include <pthread.h>
#endif

namespace {
std::string Pattern(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>((i * 31 + 7) & 0xFF);
    }
    return bytes;
}

class ListenerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        RecordDeliveries(server, deliveries);
        ActivateOnLoopback(server);
        RunPendingCalls(); // leaves the sync event reset
    }
    // Blocks without pumping until the listener has queued a delivery for this thread.
    bool WaitForQueuedDelivery() { return WaitForSyncEvent(5000ms); }

    // Declared before the endpoint: its teardown may still run a queued delivery into them.
    std::vector<Delivery> deliveries;
    std::size_t handled = 0;
    UdpPeer peer;
    TIdUDPServer server;
};

struct SizeRow {
    const char* name;
    std::size_t size;
};

class DeliveredWhole : public ListenerTest, public ::testing::WithParamInterface<SizeRow> {};

TEST_P(DeliveredWhole, AsOneStreamAtPositionZero) {
    const std::string bytes = Pattern(GetParam().size);
    peer.SendTo(PortOf(server), bytes);
    ASSERT_TRUE(PumpUntil([&] { return deliveries.size() == 1; }));
    EXPECT_EQ(deliveries[0].positionAtCall, 0u);
    EXPECT_EQ(deliveries[0].sizeAtCall, bytes.size());
    EXPECT_EQ(deliveries[0].bytes, bytes);
    EXPECT_EQ(deliveries[0].thread, std::this_thread::get_id());
    EXPECT_EQ(deliveries[0].senderIP, "127.0.0.1");
    EXPECT_EQ(deliveries[0].senderPort, peer.Port());
}

INSTANTIATE_TEST_SUITE_P(Sizes, DeliveredWhole,
                         ::testing::Values(SizeRow{"Empty", 0}, SizeRow{"OneByte", 1},
                                           SizeRow{"ConfigRecordSized", 512},
                                           SizeRow{"OneShortOfBuffer", 8191},
                                           SizeRow{"ExactlyTheBuffer", 8192}),
                         [](const auto& info) { return std::string(info.param.name); });

class DroppedAsTooLong : public ListenerTest, public ::testing::WithParamInterface<SizeRow> {};

TEST_P(DroppedAsTooLong, AndTheNextOneIsDelivered) {
    peer.SendTo(PortOf(server), Pattern(GetParam().size));
    peer.SendTo(PortOf(server), "next");
    ASSERT_TRUE(PumpUntil([&] { return !deliveries.empty(); }));
    ASSERT_EQ(deliveries.size(), 1u);
    EXPECT_EQ(deliveries[0].bytes, "next");
}

INSTANTIATE_TEST_SUITE_P(Sizes, DroppedAsTooLong,
                         ::testing::Values(SizeRow{"OneOverBuffer", 8193}, SizeRow{"LargestUdp", 65507}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ListenerTest, DatagramsArrivingWhileTheMainThreadIsBusyComeInOrderOneCallEach) {
    peer.SendTo(PortOf(server), "first");
    peer.SendTo(PortOf(server), "second");
    ASSERT_TRUE(WaitForQueuedDelivery());
    EXPECT_TRUE(deliveries.empty()); // nothing runs until this thread pumps
    ASSERT_TRUE(PumpUntil([&] { return deliveries.size() == 2; }));
    EXPECT_EQ(deliveries[0].bytes, "first");
    EXPECT_EQ(deliveries[1].bytes, "second");
}

TEST_F(ListenerTest, AHandlerThatThrowsDoesNotStopLaterDeliveries) {
    server.OnUDPRead = [this](TIdUDPServer&, TMemoryStream& data, TIdSocketHandle&) {
        ++handled;
        const std::string bytes = data.ReadAll();
        if (bytes == "boom") {
            throw std::runtime_error("handler failure");
        }
        if (bytes == "int") {
            throw 42;
        }
        deliveries.push_back({bytes, 0, 0, nullptr, {}, 0, {}});
    };
    peer.SendTo(PortOf(server), "boom");
    peer.SendTo(PortOf(server), "int");
    peer.SendTo(PortOf(server), "after");
    ASSERT_TRUE(PumpUntil([&] { return deliveries.size() == 1; }));
    EXPECT_EQ(handled, 3u);
    EXPECT_EQ(deliveries[0].bytes, "after");
    EXPECT_TRUE(server.Active());
}

TEST_F(ListenerTest, DeactivationRunsAQueuedDeliveryBeforeItReturns) {
    peer.SendTo(PortOf(server), "queued");
    ASSERT_TRUE(WaitForQueuedDelivery());
    ASSERT_TRUE(deliveries.empty());
    server.SetActive(false);
    ASSERT_EQ(deliveries.size(), 1u);
    EXPECT_EQ(deliveries[0].bytes, "queued");
    EXPECT_FALSE(server.Active());
}

TEST_F(ListenerTest, ReactivationReceivesAgain) {
    server.SetActive(false);
    server.SetActive(true);
    peer.SendTo(PortOf(server), "again");
    ASSERT_TRUE(PumpUntil([&] { return deliveries.size() == 1; }));
    EXPECT_EQ(deliveries[0].bytes, "again");
}

TEST(ListenerBindings, SendBindingBecomesTheBindingThatReceived) {
    std::vector<Delivery> deliveries;
    TIdUDPServer server;
    RecordDeliveries(server, deliveries);
    server.Bindings().Add().IP = "127.0.0.1";
    server.Bindings().Add().IP = "127.0.0.1";
    server.SetActive(true);
    ASSERT_EQ(server.SendBinding(), &server.Bindings()[0]);

    UdpPeer peer;
    peer.SendTo(PortOf(server, 1), "to second");
    ASSERT_TRUE(PumpUntil([&] { return deliveries.size() == 1; }));
    EXPECT_EQ(deliveries[0].binding, &server.Bindings()[1]);
    EXPECT_EQ(server.SendBinding(), &server.Bindings()[1]);

    // Replies now leave from the receiving binding's port.
    server.SendDatagram("127.0.0.1", peer.Port(), "reply");
    const auto got = peer.Receive();
    ASSERT_TRUE(got);
    EXPECT_EQ(got->senderPort, PortOf(server, 1));
}

TEST(ListenerThreadedEvent, DeliversOnTheListenerWithoutThePumping) {
    std::atomic<int> count{0};
    std::thread::id thread;
    std::string bytes;
    TIdUDPServer server;
    server.ThreadedEvent = true;
    server.OnUDPRead = [&](TIdUDPServer&, TMemoryStream& data, TIdSocketHandle&) {
        thread = std::this_thread::get_id();
        bytes = data.ReadAll();
        count.fetch_add(1);
    };
    ActivateOnLoopback(server);
    UdpPeer peer;
    peer.SendTo(PortOf(server), "threaded");
    ASSERT_TRUE(WaitUntil([&] { return count.load() == 1; }));
    EXPECT_NE(thread, std::this_thread::get_id());
    EXPECT_EQ(bytes, "threaded");
    EXPECT_EQ(server.SendBinding(), &server.Bindings()[0]);
}

#ifndef _WIN32
// Windows has no signals that interrupt a socket wait.
std::atomic<int> GSignalsOffMain{0};
pthread_t GMainPthread;
void CountSignal(int) {
    if (!pthread_equal(pthread_self(), GMainPthread)) {
        GSignalsOffMain.fetch_add(1);
    }
}

TEST_F(ListenerTest, SignalsInterruptingTheWaitDoNotEndTheListener) {
    GMainPthread = pthread_self();
    struct sigaction action {};
    action.sa_handler = CountSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no SA_RESTART: the wait sees EINTR
    struct sigaction previous {};
    ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);
    sigset_t usr1;
    sigemptyset(&usr1);
    sigaddset(&usr1, SIGUSR1);
    // Blocked here only, after the listener was started: the process signal can go only to it.
    pthread_sigmask(SIG_BLOCK, &usr1, nullptr);

    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < 20; ++i) {
            kill(getpid(), SIGUSR1);
        }
        peer.SendTo(PortOf(server), "round" + std::to_string(round));
        ASSERT_TRUE(PumpUntil([&] { return deliveries.size() == static_cast<std::size_t>(round + 1); }));
    }
    EXPECT_TRUE(WaitUntil([] { return GSignalsOffMain.load() > 0; }));
    EXPECT_TRUE(server.Active());
    EXPECT_EQ(deliveries.back().bytes, "round2");

    server.SetActive(false);
    pthread_sigmask(SIG_UNBLOCK, &usr1, nullptr);
    sigaction(SIGUSR1, &previous, nullptr);
}

#endif

TEST_F(ListenerTest, AnyLengthAndContentAtFullRateNeverCrashesOrStallsIt) {
    server.OnUDPRead = [this](TIdUDPServer&, TMemoryStream& data, TIdSocketHandle&) {
        ++handled;
        const std::string bytes = data.ReadAll();
        if (bytes == "marker") {
            deliveries.push_back({bytes, 0, 0, nullptr, {}, 0, {}});
        } else if (!bytes.empty() && bytes[0] == '\x01') {
            throw EIdException("handler rejects it");
        }
    };
    std::atomic<bool> sent{false};
    std::thread blaster([&] {
        UdpPeer sender;
        std::mt19937 random(12345);
        std::uniform_int_distribution<int> length(0, 65507);
        std::uniform_int_distribution<int> byte(0, 255);
        std::string bytes;
        for (int i = 0; i < 3000; ++i) {
            bytes.resize(static_cast<std::size_t>(i % 3 == 0 ? length(random) % 8194 : length(random)));
            for (auto& b : bytes) {
                b = static_cast<char>(byte(random));
            }
            sender.SendTo(PortOf(server), bytes);
        }
        sent = true;
    });
    ASSERT_TRUE(PumpUntil([&] { return sent.load(); }, 60000ms));
    blaster.join();
    // The receive buffer may have overflowed; the marker is repeated until one gets through.
    ASSERT_TRUE(PumpUntil(
        [&] {
            if (deliveries.empty()) {
                peer.SendTo(PortOf(server), "marker");
            }
            return !deliveries.empty();
        },
        10000ms));
    EXPECT_GT(handled, 0u);
    EXPECT_TRUE(server.Active());
}

// The listener takes batch after batch while they come back full; a layer whose reads block (Windows)
// must not wait in one when the last batch emptied the socket, or no stop would reach the listener.
TEST(SocketLayerBatch, AfterAFullBatchThatEmptiedTheSocketTheNextReturnsAtOnce) {
    TIdUDPServer layerOwner; // the socket layer exists while a component does
    TIdStack& stack = TIdStack::Instance();
    TIdScopedSocket socket(stack.NewSocketHandle());
    const uint8_t loopback[4] = {127, 0, 0, 1};
    std::string ip;
    int32_t port = 0;
    ASSERT_TRUE(stack.Bind(socket.Get(), loopback, 0) == 0 && stack.GetSockName(socket.Get(), ip, port) == 0);
    UdpPeer peer;
    peer.SendTo(static_cast<uint16_t>(port), "only");
    std::vector<TIdSocketHandleType> readable{socket.Get()};
    ASSERT_EQ(stack.Select(readable, 5000), 1);

    std::vector<char> buffer(64);
    std::vector<TIdDatagramSlot> slots(1);
    slots[0].Buffer = buffer.data();
    slots[0].Capacity = buffer.size();
    std::atomic<int> second{-2};
    std::thread reader([&] {
        const int first = stack.ReceiveBatch(socket.Get(), slots, 1);
        second = first == 1 ? stack.ReceiveBatch(socket.Get(), slots, 1) : -1;
    });
    if (!WaitUntil([&] { return second.load() != -2; })) {
        peer.SendTo(static_cast<uint16_t>(port), "frees the read");
    }
    reader.join();
    EXPECT_EQ(second.load(), 0) << "1: it waited in a read for the next datagram; -1: the first batch failed";
}

// Read-ahead on the fake layer, where the test sees what is still in the socket: a burst much larger
// than any receive buffer, handed over while the main thread is busy or not pumping at all.
class ReadAheadTest : public ::testing::Test {
  protected:
    void SetUp() override {
        server.Bindings().Add().Port = kPort;
        server.OnUDPRead = [this](TIdUDPServer&, TMemoryStream& data, TIdSocketHandle& binding) {
            // One at a time: nothing runs inside a handler, and no second delivery waits behind it.
            EXPECT_FALSE(inHandler);
            EXPECT_FALSE(HasPendingCalls());
            EXPECT_TRUE(IsMainThread());
            inHandler = true;
            got.push_back(data.ReadAll());
            senders.push_back(binding.SenderPort);
            if (onFirst && got.size() == 1) {
                onFirst();
            }
            inHandler = false;
        };
        server.SetActive(true);
    }
    // Datagrams from..from+count-1, each from a port of its own.
    void Burst(int from, int count, std::size_t size) {
        for (int i = from; i < from + count; ++i) {
            std::string bytes = std::to_string(i);
            bytes.resize(std::max(size, bytes.size()), '.');
            net.Deliver("10.77.4.1", 40000 + i, kPort, bytes);
        }
    }
    // Every datagram of a burst of count, in the order sent, each with its own sender.
    void ExpectAllInOrder(int count) {
        ASSERT_TRUE(net.RunUntil(1000ms, [&] { return got.size() == static_cast<std::size_t>(count); }));
        for (int i = 0; i < count; ++i) {
            ASSERT_EQ(got[i].substr(0, got[i].find('.')), std::to_string(i));
            ASSERT_EQ(senders[i], 40000 + i);
        }
    }

    static constexpr int32_t kPort = 60001;
    FakeNetwork net; // before the endpoint: its layer is the endpoint's
    std::vector<std::string> got;
    std::vector<int32_t> senders;
    std::function<void()> onFirst;
    bool inHandler = false;
    TIdUDPServer server;
};

TEST_F(ReadAheadTest, WhatArrivesWhileTheHandlerRunsIsReadMeanwhile) {
    bool emptied = false;
    onFirst = [&] {
        Burst(1000, 1000, 40);
        emptied = WaitUntil([&] { return net.Queued(kPort) == 0; });
    };
    Burst(0, 1000, 40);
    ExpectAllInOrder(2000);
    EXPECT_TRUE(emptied);
}

TEST_F(ReadAheadTest, ABurstIsHandedOverInSharesWithOtherCallsBetweenAndAStopEndsItAfterTheQueuedOne) {
    Burst(0, 3 * IdDeliveriesPerCall, 40);
    ASSERT_TRUE(net.WaitForListenersAsleep());
    std::size_t handedOverBeforeIt = 0;
    PostToMainThread([&] { handedOverBeforeIt = got.size(); }); // a click, say, waiting behind the burst
    RunPendingCalls();
    EXPECT_EQ(handedOverBeforeIt, static_cast<std::size_t>(IdDeliveriesPerCall));

    server.SetActive(false);
    ASSERT_EQ(got.size(), static_cast<std::size_t>(IdDeliveriesPerCall) + 1);
    EXPECT_EQ(got.back().substr(0, got.back().find('.')), std::to_string(IdDeliveriesPerCall));
}

struct BoundRow {
    const char* name;
    std::size_t size;
    std::size_t held; // read ahead beside the one being handed over
};

class ReadAheadBound : public ReadAheadTest, public ::testing::WithParamInterface<BoundRow> {};

TEST_P(ReadAheadBound, StopsReadingAtTheBoundAndTheRestWaitsInTheSocket) {
    const BoundRow row = GetParam();
    const int count = static_cast<int>(row.held) + 100;
    Burst(0, count, row.size);
    ASSERT_TRUE(net.WaitForListenersAsleep());
    EXPECT_EQ(net.Queued(kPort), static_cast<std::size_t>(count) - row.held - 1);
    EXPECT_TRUE(got.empty());
    ExpectAllInOrder(count);
}

INSTANTIATE_TEST_SUITE_P(Bounds, ReadAheadBound,
                         ::testing::Values(BoundRow{"SmallDatagramsByCount", 40, IdReadAheadDatagrams},
                                           BoundRow{"FullBuffersByBytes", 8192, IdReadAheadBytes / 8192}),
                         [](const auto& info) { return std::string(info.param.name); });
} // namespace
