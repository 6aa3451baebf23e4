// What a thumbnail costs in reading, as a parent on slow storage sees it.
//
// For each file, one thumbnail through the client library (the file handed
// over to a locked server, as the tool does), and a line with what the
// server read of it against what it had to: the file's size, the bytes and
// seeks the server reports, the bytes of the video packets from the key frame
// at or before the first position (0.3 s) to the frame there, as libavformat
// finds them, and the bytes of the file that are in no packet at all
// (headers, index, padding). "within" says whether the read stayed within
// twice the packets plus those bytes.
//
// Then the cost of handing a file over on a warm server: the round trip of
// command 12 (the descriptor sent and taken, the reply and its event)
// against that of command 5, which carries nothing, over many rounds.
//
//   read_cost --server PATH [--rounds N] FILE...
//
// Tab-separated on stdout:
//   file size read seeks packets container ratio within
//   #hand-over rounds status_us handover_us extra_us (medians)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "client/server_process.h"
#include "client/thumbnail_client.h"
#include "protocol/server_timing.h"

namespace {

using Clock = std::chrono::steady_clock;

struct PacketBytes {
  uint64_t decoded = 0;    // video packets from the key frame to the frame at the position
  uint64_t container = 0;  // file bytes in no packet
  bool ok = false;
};

PacketBytes CountPackets(const std::string& path, uint64_t size) {
  PacketBytes counted;
  AVFormatContext* raw = nullptr;
  if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) return counted;
  std::unique_ptr<AVFormatContext, void (*)(AVFormatContext*)> format(raw, [](AVFormatContext* f) {
    avformat_close_input(&f);
  });
  if (avformat_find_stream_info(format.get(), nullptr) < 0) return counted;
  const int video = av_find_best_stream(format.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (video < 0) return counted;
  const AVStream* stream = format->streams[video];
  AVPacket* packet = av_packet_alloc();
  // Every packet of the file, for the bytes that are in none.
  uint64_t inPackets = 0;
  while (av_read_frame(format.get(), packet) >= 0) {
    inPackets += static_cast<uint64_t>(packet->size);
    av_packet_unref(packet);
  }
  counted.container = size > inPackets ? size - inPackets : 0;
  // The key frame at or before the position, and on to the frame shown there.
  const int64_t start = stream->start_time == AV_NOPTS_VALUE ? 0 : stream->start_time;
  const int64_t target =
      start + av_rescale_q(wire::kFirstWalkPositionMs, AVRational{1, 1000}, stream->time_base);
  if (av_seek_frame(format.get(), video, target, AVSEEK_FLAG_BACKWARD) >= 0) {
    while (av_read_frame(format.get(), packet) >= 0) {
      const bool ours = packet->stream_index == video;
      const int64_t pts = packet->pts == AV_NOPTS_VALUE ? packet->dts : packet->pts;
      if (ours) counted.decoded += static_cast<uint64_t>(packet->size);
      av_packet_unref(packet);
      if (ours && pts != AV_NOPTS_VALUE && pts >= target) break;
    }
    counted.ok = true;
  }
  av_packet_free(&packet);
  return counted;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

// Medians of a status round trip and of a hand-over's, in microseconds.
bool HandOverCost(const std::string& server_path, const std::string& file, int rounds, double* status_us,
                  double* handover_us) {
  std::unique_ptr<thumbnail::ServerProcess> server;
  if (!thumbnail::ServerProcess::Start(server_path, &server).ok()) return false;
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  std::vector<double> status, handover;
  auto deadline = [] { return Clock::now() + std::chrono::seconds(5); };
  bool ok = true;
  // The first rounds warm the server's code paths and are not counted.
  for (int i = -10; i < rounds && ok; ++i) {
    wire::StatusReply reply;
    auto t0 = Clock::now();
    ok = server->Ask(wire::StatusRequest{}, &reply, deadline()).ok();
    auto t1 = Clock::now();
    wire::HandFileReply held;
    ok = ok && server->HandOver(fd, 0, &held, deadline()).ok() && held.reason == wire::kNoFailure;
    auto t2 = Clock::now();
    if (i < 0) continue;
    status.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
    handover.push_back(std::chrono::duration<double, std::micro>(t2 - t1).count());
  }
  ::close(fd);
  *status_us = Median(status);
  *handover_us = Median(handover);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  std::string server;
  int rounds = 200;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if ((argument == "--server" || argument == "--rounds") && i + 1 < argc) {
      if (argument == "--server")
        server = argv[++i];
      else
        rounds = std::max(1, std::atoi(argv[++i]));
    } else {
      files.push_back(argument);
    }
  }
  if (server.empty() || files.empty()) {
    std::fprintf(stderr, "usage: read_cost --server PATH [--rounds N] FILE...\n");
    return 2;
  }
  thumbnail::ThumbnailClient client(thumbnail::ClientOptions{server});
  std::printf("#file\tsize\tread\tseeks\tpackets\tcontainer\tratio\twithin\n");
  for (const std::string& file : files) {
    struct stat st;
    if (::stat(file.c_str(), &st) != 0) {
      std::printf("%s\tfail\tno such file\n", file.c_str());
      continue;
    }
    thumbnail::Frame frame;
    const thumbnail::Status status = client.Thumbnail(file, &frame);
    thumbnail::ReadTally tally;
    client.GetReadTally(&tally);
    const PacketBytes packets = CountPackets(file, static_cast<uint64_t>(st.st_size));
    if (!status.ok() || !packets.ok) {
      std::printf("%s\tfail\t%s\n", file.c_str(), status.ok() ? "no packets found" : status.reason.c_str());
      continue;
    }
    const double needed = static_cast<double>(packets.decoded + packets.container);
    std::printf("%s\t%lld\t%llu\t%u\t%llu\t%llu\t%.2f\t%s\n", file.c_str(), static_cast<long long>(st.st_size),
                static_cast<unsigned long long>(tally.bytes), tally.seeks,
                static_cast<unsigned long long>(packets.decoded), static_cast<unsigned long long>(packets.container),
                static_cast<double>(tally.bytes) / needed,
                tally.bytes <= 2 * packets.decoded + packets.container ? "yes" : "no");
  }
  double status_us = 0, handover_us = 0;
  if (!HandOverCost(server, files[0], rounds, &status_us, &handover_us)) {
    std::printf("#hand-over\tfail\n");
    return 1;
  }
  std::printf("#hand-over\t%d\t%.1f\t%.1f\t%.1f\n", rounds, status_us, handover_us, handover_us - status_us);
  return 0;
}
