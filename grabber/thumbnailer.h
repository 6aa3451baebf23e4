// TDirectShowThumbnailer turns one video file into one still frame: it builds
// a filter graph for the file, reroutes the video branch into the sample
// renderer, cuts the other branches and seeks through eight fixed positions
// until a frame is not too dark. One object per request; the server reads
// BitmapInfo and Bits after a successful ThumbnailFile.
#pragma once

#include <optional>

#include "platform/dshow/dshow.h"
#include "platform/dshow/media_failure.h"

// Where a walk placed by the caller begins.
struct WalkStart {
  bool fraction = false;  // value is in millionths of the duration, else in 100 ns units
  LONGLONG value = 0;
};

class TDirectShowThumbnailer {
 public:
  TDirectShowThumbnailer();
  // Deletes the frame bitmap, then releases pGraph, pGrabFilter, pSeeking,
  // pMediaControl, pEvent, MyGrabber and ColorspaceConverter in that order.
  ~TDirectShowThumbnailer();
  TDirectShowThumbnailer(const TDirectShowThumbnailer&) = delete;
  TDirectShowThumbnailer& operator=(const TDirectShowThumbnailer&) = delete;

  // Opens the file and chooses the frame: 1 when a frame was chosen (Bits is
  // then set), 0 on failure: a path that does not fit FileName, a file the
  // graph cannot render or without uncompressed video, a graph that does not
  // run, or no frame at the last position. What was acquired stays for the
  // destructor. Called once per object; a failure leaves its reason in
  // Failure and FailureCodec.
  int ThumbnailFile(const char* path);

  // Set before ThumbnailFile to walk forward from this position (the
  // position, then 0.5, 1, 2, 4, 8, 15 and 30 s after it) instead of the
  // eight fixed ones. Unset, the fixed walk is made.
  std::optional<WalkStart> Start;
  // Set before ThumbnailFile to take the file's cover picture, when the
  // graph offers one, instead of a frame of its video.
  bool PreferCover = false;
  // Why the last ThumbnailFile failed, S_OK after a success: the graph's
  // own reason when it keeps one (IMediaFailure), else the HRESULT of the
  // failed step, E_MEDIA_NO_VIDEO when no video branch could be spliced,
  // E_MEDIA_NO_PICTURE when no position gave a frame.
  HRESULT Failure = S_OK;
  // The codec whose video could not be shown, when the graph names one.
  char FailureCodec[kMaxCodecNameBytes] = {};

  // Where the frame came from, after a success: the time the walk stopped
  // at, in 100 ns units, or a negative value when the graph could not seek
  // to it; FromCover when it is the file's cover picture, which has no
  // time.
  LONGLONG FramePosition = -1;
  bool FromCover = false;

  // The format of the current frame (cleared at construction, so a
  // thumbnailer that captured nothing reports 0 x 0) and its pixels inside
  // the DIB section Bitmap; Bits is null whenever there is no frame.
  BITMAPINFO BitmapInfo;
  BYTE* Bits;
  HBITMAP Bitmap;
  char FileName[260];
  IGraphBuilder* pGraph;
  IMediaSeeking* pSeeking;
  IMediaControl* pMediaControl;
  IMediaEventEx* pEvent;
  IBaseFilter* pGrabFilter;
  ISampleRendererControl* MyGrabber;
  IBaseFilter* ColorspaceConverter;

  // The steps of ThumbnailFile, public so that each can be exercised alone.
  // Positions at or past the end become half the duration in the fixed
  // walk; in a walk from the caller's start they become the end itself,
  // where the last frame is shown. True when the position was at or past
  // the end.
  bool SeekTo(LONGLONG position);
  // The n-th position of the walk, 0 to 7, the caller's start resolved.
  LONGLONG WalkPosition(size_t n, LONGLONG start) const;
  // The caller's start in 100 ns units: a fraction of the duration, 0 when
  // the duration is unknown.
  LONGLONG StartTime();
  // Keeps `seen` as the reason for the failure, or the graph's own reason
  // when it has a more precise one; returns 0 for ThumbnailFile to return.
  int Fail(HRESULT seen);
  void GrabFrameDX7();
  int IsTooDark();
  int AddSampleGrabber();
  IPin* InsertColorConverter(IPin* pin);
  void RemoveNonVideoBranches();
  // When the source has a cover picture and PreferCover is set, or the cover
  // is its only video, cuts every other video branch and sets FromCover;
  // nothing otherwise.
  void ChooseCover();
  void RemoveBranch(IPin* pin);
  IPin* FindInputPin(IBaseFilter* filter);
  IPin* FindOutputPin(IBaseFilter* filter);
  // Deletes Bitmap when set, clearing Bitmap and Bits.
  void DeleteFrameBitmap();
  // Releases pGraph, pGrabFilter, pSeeking, pMediaControl, pEvent, MyGrabber
  // and ColorspaceConverter in that order, keeping the frame and the
  // failure: all that is read after ThumbnailFile. The graph's decoders and
  // their pictures go then rather than with the object.
  void ReleaseGraph();
};
