// Drives a real media graph the way the thumbnailer does: render a file,
// splice a sample renderer into the video branch (directly for RGB24, through
// the colour space converter otherwise), cut the other branches, seek, run
// and read the buffered frame back as a picture.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "platform/dshow/dshow.h"
#include "tests/support/fixtures.h"

namespace media_test {

struct PinView {
  PIN_DIRECTION dir;
  std::wstring name;
  bool connected;
  GUID major;
  GUID sub;
};

struct FilterView {
  std::wstring name;
  std::vector<PinView> pins;
};

// The graph as its user sees it through the public interfaces.
std::vector<FilterView> Describe(IGraphBuilder* graph);

// The filter of that name, with a reference; null when there is none.
ComPtr<IBaseFilter> FindFilter(IGraphBuilder* graph, const std::wstring& name);
// The filter's first pin of that direction, with a reference.
ComPtr<IPin> FirstPin(IBaseFilter* filter, PIN_DIRECTION dir);

std::wstring Wide(const std::string& s);

class GraphHarness {
 public:
  GraphHarness();
  ~GraphHarness();

  HRESULT Render(const std::string& path);
  // Splices the sample renderer onto the first decoder output carrying
  // video and cuts every branch that does not lead to it. False on failure.
  bool Splice();
  // Seeks to `seconds`, runs and waits; false when a step failed.
  bool RunAt(double seconds);
  // The buffered frame, top row first.
  Picture Frame();
  // RunAt then Frame.
  Picture FrameAt(double seconds);

  IGraphBuilder* graph() const { return graph_.get(); }
  ISampleRendererControl* grabber() const { return grabber_.get(); }
  bool usedConverter() const { return usedConverter_; }
  GUID decoderSubtype() const { return decoderSubtype_; }

 private:
  ComPtr<IGraphBuilder> graph_;
  ComPtr<IMediaControl> control_;
  ComPtr<IMediaEventEx> events_;
  ComPtr<IMediaSeeking> seeking_;
  ComPtr<ISampleRendererControl> grabber_;
  bool usedConverter_ = false;
  GUID decoderSubtype_{};
};

// A parameterised case's name for the test's name: its `name` with every
// character that is no letter or digit made '_'.
template <typename Case>
std::string CaseName(const testing::TestParamInfo<Case>& info) {
  std::string n = info.param.name;
  for (char& ch : n)
    if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
  return n;
}

// Frame of `path` at `seconds` through the graph and the reference decoder.
struct FramePair {
  Picture ours;
  Picture reference;
};
FramePair FramesAt(const std::string& path, double seconds);

}  // namespace media_test
