// The controller simulator as its clients see it: register contents, answers
// to pipelined requests and each fault it plays.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <modbus/modbus.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "PlcSimProcess.h"

namespace {

using plcsimtest::PlcSimProcess;

// A libmodbus client on the simulator's port, freed at the end of the scope.
struct Client {
  explicit Client(int port, int unit = 1) : context(modbus_new_tcp("127.0.0.1", port)) {
    modbus_set_slave(context, unit);
    modbus_set_response_timeout(context, 0, 300000);
    connected = modbus_connect(context) == 0;
  }
  ~Client() {
    modbus_close(context);
    modbus_free(context);
  }
  modbus_t* context;
  bool connected;
};

// A plain TCP connection for frames libmodbus would not send or accept.
struct RawConnection {
  explicit RawConnection(int port) : fd(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval hangBound{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &hangBound, sizeof(hangBound));
    connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
  }
  ~RawConnection() { ::close(fd); }
  bool Send(const std::vector<uint8_t>& bytes) {
    return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
  }
  std::vector<uint8_t> Receive(std::size_t count) {
    std::vector<uint8_t> bytes(count);
    std::size_t got = 0;
    while (got < count) {
      const ssize_t n = ::recv(fd, bytes.data() + got, count - got, 0);
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    bytes.resize(got);
    return bytes;
  }
  int fd;
  bool connected;
};

// Read holding registers (3): MBAP header and PDU.
std::vector<uint8_t> ReadHolding(uint16_t transaction, uint16_t address, uint16_t count, uint8_t unit = 1) {
  return {static_cast<uint8_t>(transaction >> 8), static_cast<uint8_t>(transaction), 0, 0, 0, 6, unit, 3,
          static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address), 0, static_cast<uint8_t>(count)};
}

uint16_t Word(const std::vector<uint8_t>& bytes, std::size_t at) {
  return static_cast<uint16_t>(bytes[at] << 8 | bytes[at + 1]);
}

TEST(PlcSimTest, ServesEachAreaOfEachUnitAndRefusesWhatIsOutOfRange) {
  PlcSimProcess sim;
  ASSERT_TRUE(sim.Start({"--size", "200"}));
  struct Read {
    int unit, function, address, count;
    std::vector<uint16_t> expected;
  };
  const Read reads[] = {
      {1, 3, 10, 3, {1010, 1011, 1012}}, {2, 3, 199, 1, {2199}}, {3, 4, 5, 2, {305, 306}},
      {1, 1, 0, 4, {1, 0, 1, 0}},        {2, 2, 1, 3, {1, 0, 1}},
  };
  for (const Read& read : reads) {
    Client client(sim.Port(), read.unit);
    ASSERT_TRUE(client.connected);
    std::vector<uint16_t> words(read.count);
    std::vector<uint8_t> bits(read.count);
    int got = -1;
    switch (read.function) {
      case 1: got = modbus_read_bits(client.context, read.address, read.count, bits.data()); break;
      case 2: got = modbus_read_input_bits(client.context, read.address, read.count, bits.data()); break;
      case 3: got = modbus_read_registers(client.context, read.address, read.count, words.data()); break;
      case 4: got = modbus_read_input_registers(client.context, read.address, read.count, words.data()); break;
    }
    ASSERT_EQ(got, read.count) << "unit " << read.unit << " function " << read.function;
    if (read.function <= 2) words.assign(bits.begin(), bits.end());
    EXPECT_EQ(words, read.expected) << "unit " << read.unit << " function " << read.function;
  }

  Client client(sim.Port(), 2);
  ASSERT_TRUE(client.connected);
  const uint16_t written[] = {7, 8, 9};
  EXPECT_EQ(modbus_write_register(client.context, 4, 42), 1);
  EXPECT_EQ(modbus_write_registers(client.context, 5, 3, written), 3);
  uint16_t back[4] = {};
  ASSERT_EQ(modbus_read_registers(client.context, 4, 4, back), 4);
  EXPECT_EQ(std::vector<uint16_t>(back, back + 4), (std::vector<uint16_t>{42, 7, 8, 9}));

  EXPECT_EQ(modbus_read_registers(client.context, 199, 2, back), -1);
  EXPECT_EQ(errno, EMBXILADD);
  modbus_set_slave(client.context, 9);
  EXPECT_EQ(modbus_read_registers(client.context, 0, 1, back), -1);
  EXPECT_EQ(errno, EMBXGTAR);

  ASSERT_TRUE(sim.Stop());
  EXPECT_NE(sim.Output().find("connections 6, requests 10, answers 10, dropped 0"), std::string::npos)
      << sim.Output();
}

TEST(PlcSimTest, CounterAndRampMove) {
  PlcSimProcess sim;
  ASSERT_TRUE(sim.Start({"--tick", "5"}));
  Client client(sim.Port(), 1);
  ASSERT_TRUE(client.connected);
  uint16_t first[2] = {};
  uint16_t later[2] = {};
  ASSERT_EQ(modbus_read_input_registers(client.context, 0, 2, first), 2);
  for (int i = 0; i < 500 && (later[0] == first[0] || later[1] == first[1]); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(modbus_read_input_registers(client.context, 0, 2, later), 2);
  }
  EXPECT_NE(later[0], first[0]);
  EXPECT_NE(later[1], first[1]);
  EXPECT_EQ(later[1] % 10, 0);
}

TEST(PlcSimTest, PipelinedRequestsAnsweredInOrderOrNewestFirst) {
  for (const bool outOfOrder : {false, true}) {
    PlcSimProcess sim;
    std::vector<std::string> options{"--latency", "50"};
    if (outOfOrder) options.push_back("--out-of-order");
    ASSERT_TRUE(sim.Start(options));
    RawConnection line(sim.Port());
    ASSERT_TRUE(line.connected);
    std::vector<uint8_t> burst;
    for (uint16_t transaction = 1; transaction <= 4; ++transaction) {
      const std::vector<uint8_t> request = ReadHolding(transaction, transaction * 10, 1);
      burst.insert(burst.end(), request.begin(), request.end());
    }
    ASSERT_TRUE(line.Send(burst));
    std::vector<uint16_t> order;
    for (int i = 0; i < 4; ++i) {
      const std::vector<uint8_t> answer = line.Receive(11);
      ASSERT_EQ(answer.size(), 11u);
      order.push_back(Word(answer, 0));
      EXPECT_EQ(Word(answer, 9), 1000 + Word(answer, 0) * 10) << "the answer matches its request";
    }
    EXPECT_EQ(order, outOfOrder ? (std::vector<uint16_t>{4, 3, 2, 1}) : (std::vector<uint16_t>{1, 2, 3, 4}));
    ASSERT_TRUE(sim.Stop());
    EXPECT_EQ(sim.MaxInFlight(), 4) << sim.Output();
  }
}

TEST(PlcSimTest, DropsEveryNthAnswerAndClosesEveryNthRequest) {
  PlcSimProcess sim;
  ASSERT_TRUE(sim.Start({"--drop-every", "2", "--close-every", "4"}));
  Client client(sim.Port());
  ASSERT_TRUE(client.connected);
  uint16_t value = 0;
  EXPECT_EQ(modbus_read_registers(client.context, 0, 1, &value), 1);
  EXPECT_EQ(modbus_read_registers(client.context, 0, 1, &value), -1) << "second answer dropped";
  EXPECT_EQ(errno, ETIMEDOUT);
  EXPECT_EQ(modbus_read_registers(client.context, 0, 1, &value), 1);
  EXPECT_EQ(modbus_read_registers(client.context, 0, 1, &value), -1) << "closed at the fourth request";
  modbus_close(client.context);
  ASSERT_EQ(modbus_connect(client.context), 0);
  EXPECT_EQ(modbus_read_registers(client.context, 0, 1, &value), 1);
  ASSERT_TRUE(sim.Stop());
  EXPECT_NE(sim.Output().find("connections 2, requests 5, answers 3, dropped 1, closed by rule 1"),
            std::string::npos)
      << sim.Output();
}

TEST(PlcSimTest, MalformedFrameBeforeTheAnswer) {
  struct Case {
    const char* kind;
    uint16_t transaction, protocol, length;
  };
  for (const Case& c : {Case{"protocol", 5, 1, 3}, Case{"tid", 5 ^ 0x8000, 0, 3}, Case{"length", 5, 0, 0}}) {
    PlcSimProcess sim;
    ASSERT_TRUE(sim.Start({"--bad-frame-every", "1", "--bad-frame-kind", c.kind}));
    RawConnection line(sim.Port());
    ASSERT_TRUE(line.connected);
    ASSERT_TRUE(line.Send(ReadHolding(5, 0, 1)));
    const std::vector<uint8_t> bad = line.Receive(9);
    ASSERT_EQ(bad.size(), 9u) << c.kind;
    EXPECT_EQ(Word(bad, 0), c.transaction) << c.kind;
    EXPECT_EQ(Word(bad, 2), c.protocol) << c.kind;
    EXPECT_EQ(Word(bad, 4), c.length) << c.kind;
    const std::vector<uint8_t> good = line.Receive(11);
    ASSERT_EQ(good.size(), 11u) << c.kind;
    EXPECT_EQ(Word(good, 0), 5) << c.kind;
    EXPECT_EQ(Word(good, 9), 1000) << c.kind;
  }
}

}  // namespace
