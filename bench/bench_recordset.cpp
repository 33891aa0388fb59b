// Record-set benchmark: loading a data packet of 1,000,000 rows of six short texts (~91 MB) into a
// fresh record set, and switching a filter between keys in record sets of 1,000, 100,000 and
// 1,000,000 rows (ten rows per key, as related lists hold a few rows per product).
//
// Plain harness: prints the first load (the figure a fresh process sees), the median of further
// loads, and the median time of one filter switch per set size.
//
//   bench_recordset [rows] [--answer-only]      (default 1000000; --answer-only runs only the
//                                               decode-while-arriving section, for profiling)
//
// Also: the same packet as a call's answer decoded while it arrives, against a plain simdjson DOM
// parse of the same bytes in the same run, and the storage's bytes per row.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include <simdjson.h>
#include <sys/resource.h>

#include "host/data/ClientDataSet.h"
#include "host/data/DecodedAnswer.h"
#include "host/data/RawResult.h"
#include "host/net/AnswerDecoder.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

// Page faults of this process so far (fresh memory touched costs one per page).
long MinorFaults() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_minflt;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

std::string Key(int product) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%010d", product);
  return buf;
}

// A supplier-list packet: product key, supplier key, name, person type, internal key, taxpayer
// number. rowsPerKey rows share each product key.
std::string MakePacket(int rows, int rowsPerKey) {
  std::string json;
  json.reserve(static_cast<std::size_t>(rows) * 96 + 256);
  json +=
      "{\"fields\":[{\"name\":\"CDPRODUTODES\",\"size\":10},{\"name\":\"CDFORNECEDDES\",\"size\":"
      "20},"
      "{\"name\":\"NMRAZSOCFORN\",\"size\":40},{\"name\":\"IDTPIJURFORN\",\"size\":1},"
      "{\"name\":\"CDFORNECED\",\"size\":21},{\"name\":\"NRINSJURFORN\",\"size\":20}],\"rows\":[";
  char buf[256];
  for (int i = 0; i < rows; ++i) {
    const int n =
        std::snprintf(buf, sizeof buf,
                      "%s[\"%010d\",\"%014d\",\"Fornecedor %07d Ltda\",\"J\",\"%09d\",\"%014d\"]",
                      i ? "," : "", i / rowsPerKey, 10000000 + i, i, i, 20000000 + i);
    json.append(buf, static_cast<std::size_t>(n));
  }
  json += "]}";
  return json;
}

void DefineFields(host::TClientDataSet& cds) {
  cds.AddField("CDPRODUTODES", 10);
  cds.AddField("CDFORNECEDDES", 20);
  cds.AddField("NMRAZSOCFORN", 40);
  cds.AddField("IDTPIJURFORN", 1);
  cds.AddField("CDFORNECED", 21);
  cds.AddField("NRINSJURFORN", 20);
}

}  // namespace

int main(int argc, char** argv) {
  int rows = 1'000'000;
  bool answerOnly = false;
  for (int i = 1; i < argc; ++i) {
    if (std::string_view(argv[i]) == "--answer-only") {
      answerOnly = true;
    } else {
      rows = std::atoi(argv[i]);
    }
  }
  constexpr int kRowsPerKey = 10;

  const auto packet = host::Variant::MakeDataPacket(MakePacket(rows, kRowsPerKey));
  std::printf("packet: %d rows, %.1f MB\n", rows, packet.PacketJson().size() / 1e6);

  // Load: the first into a fresh record set is what a fresh process sees.
  std::vector<double> loads;
  for (int run = 0; run < (answerOnly ? 0 : 5); ++run) {
    host::TClientDataSet cds("cdsFornecedor");
    DefineFields(cds);
    const auto t0 = Clock::now();
    cds.SetData(packet);
    const auto t1 = Clock::now();
    if (cds.RecordCount() != rows) {
      std::fprintf(stderr, "loaded %d rows, expected %d\n", cds.RecordCount(), rows);
      return 1;
    }
    loads.push_back(Seconds(t0, t1));
  }
  if (!answerOnly)
    std::printf("load %d rows: first %.3f s, median of %zu %.3f s\n", rows, loads.front(),
                loads.size(), Median(loads));

  // The same bytes as a call's answer, decoded while they arrive (pieces of 64 KB, as a socket
  // hands them over) straight into row storage, then loaded: against a plain simdjson DOM parse of
  // the same bytes, which builds a tree and stores nothing.
  {
    const std::string answer = "{\"jsonrpc\":\"2.0\",\"id\":1,\"result\":{\"ok\":true,\"data\":" +
                               std::string(packet.PacketJson()) + "}}";
    simdjson::padded_string padded(answer);
    simdjson::dom::parser dom;
    std::vector<double> domTimes, streamTimes, decodeTimes;
    std::size_t heldBytes = 0, textBytes = 0;
    long faults = 0;
    for (int run = 0; run < 5; ++run) {
      const auto d0 = Clock::now();
      simdjson::dom::element root;
      if (dom.parse(padded).get(root)) {
        std::fprintf(stderr, "simdjson refused the answer\n");
        return 1;
      }
      const auto d1 = Clock::now();
      domTimes.push_back(Seconds(d0, d1));

      host::TClientDataSet cds("cdsFornecedor");
      DefineFields(cds);
      const long faults0 = MinorFaults();
      const auto t0 = Clock::now();
      {
        host::AnswerDecoder decoder;
        constexpr std::size_t kPiece = 64 * 1024;
        for (std::size_t at = 0; at < answer.size(); at += kPiece)
          decoder.Feed(std::string_view(answer).substr(at, kPiece));
        if (!decoder.Finish()) {
          std::fprintf(stderr, "decoder refused the answer: %s\n", decoder.Failure().c_str());
          return 1;
        }
        decodeTimes.push_back(Seconds(t0, Clock::now()));
        const host::RawResult raw = host::ParseRawResult(decoder.TakeResult());
        heldBytes = raw.data.Decoded()->store.HeldBytes();
        textBytes = raw.data.Decoded()->store.TextBytes();
        cds.SetData(raw.data);
      }
      const auto t1 = Clock::now();
      if (cds.RecordCount() != rows) {
        std::fprintf(stderr, "streamed load gave %d rows, expected %d\n", cds.RecordCount(), rows);
        return 1;
      }
      streamTimes.push_back(Seconds(t0, t1));
      faults = MinorFaults() - faults0;
    }
    const double domMedian = Median(domTimes), streamMedian = Median(streamTimes);
    std::printf("simdjson DOM parse of the same %.1f MB: first %.3f s (fresh parser), median %.3f s (parser reused)\n",
                answer.size() / 1e6, domTimes.front(), domMedian);
    std::printf("decode while arriving (64 KB pieces) + load %d rows: first %.3f s, median %.3f s = %.2fx the DOM parse\n",
                rows, streamTimes.front(), streamMedian, streamMedian / domMedian);
    std::printf("  of which decoding: median %.3f s; loading the decoded rows: %.3f s; %ld page faults\n",
                Median(decodeTimes), streamMedian - Median(decodeTimes), faults);
    std::printf("storage: %.1f bytes per row (text %.1f, cells %.1f) for a packet of %.1f bytes per row\n",
                static_cast<double>(heldBytes) / rows, static_cast<double>(textBytes) / rows,
                static_cast<double>(heldBytes - textBytes) / rows,
                static_cast<double>(packet.PacketJson().size()) / rows);
  }

  if (answerOnly) return 0;

  // Loading into a filtered set also rebuilds the filter's index in the same pass.
  {
    std::vector<double> filteredLoads;
    for (int run = 0; run < 3; ++run) {
      host::TClientDataSet cds;
      DefineFields(cds);
      cds.SetFilter("CDPRODUTODES = '" + Key(0) + "'");
      cds.SetFiltered(true);
      cds.Open();
      cds.SetData(packet);  // first load builds the index
      const auto t0 = Clock::now();
      cds.SetData(packet);
      const auto t1 = Clock::now();
      filteredLoads.push_back(Seconds(t0, t1));
    }
    std::printf("load %d rows into a filtered set (index rebuilt): median %.3f s\n", rows,
                Median(filteredLoads));
  }

  // Writing the data back out, for reference.
  {
    host::TClientDataSet cds;
    DefineFields(cds);
    cds.SetData(packet);
    const auto t0 = Clock::now();
    const auto out = cds.Data();
    const auto t1 = Clock::now();
    std::printf("Data() %d rows: %.3f s (%.1f MB)\n", rows, Seconds(t0, t1),
                out.PacketJson().size() / 1e6);
  }

  // Filter switch: the after-scroll step of a product list (filter off, expression, filter on),
  // to random keys (jumps through the product list) and to the next key (scrolling row by row).
  std::printf("filter switch (median of one switch):\n");
  double smallRandom = 0;
  double smallNext = 0;
  for (int size : {1'000, 100'000, 1'000'000}) {
    if (size > rows) break;
    host::TClientDataSet cds;
    DefineFields(cds);
    cds.SetData(host::Variant::MakeDataPacket(MakePacket(size, kRowsPerKey)));
    cds.SetFilter("CDPRODUTODES = '" + Key(0) + "'");
    cds.SetFiltered(true);  // builds the index once
    const int keys = size / kRowsPerKey;
    constexpr int kSwitches = 20'000;
    double medians[2] = {0, 0};
    for (int pattern = 0; pattern < 2; ++pattern) {
      std::vector<double> times;
      times.reserve(kSwitches);
      unsigned state = 12345;
      for (int i = 0; i < kSwitches; ++i) {
        state = state * 1103515245u + 12345u;
        const int key = pattern == 0 ? static_cast<int>(state % keys) : i % keys;
        const std::string expr = "CDPRODUTODES = '" + Key(key) + "'";
        const auto t0 = Clock::now();
        cds.SetFiltered(false);
        cds.SetFilter(expr);
        cds.SetFiltered(true);
        const auto t1 = Clock::now();
        times.push_back(Seconds(t0, t1) * 1e6);
        if (cds.RecordCount() != kRowsPerKey) {
          std::fprintf(stderr, "filter shows %d rows, expected %d\n", cds.RecordCount(),
                       kRowsPerKey);
          return 1;
        }
      }
      medians[pattern] = Median(times);
    }
    if (size == 1'000) {
      smallRandom = medians[0];
      smallNext = medians[1];
    }
    std::printf(
        "  %7d rows: random key %.2f us (%.2fx), next key %.2f us (%.2fx the 1,000-row figure)\n",
        size, medians[0], smallRandom > 0 ? medians[0] / smallRandom : 0.0, medians[1],
        smallNext > 0 ? medians[1] / smallNext : 0.0);
  }
  return 0;
}
