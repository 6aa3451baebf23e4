// TDirectShowThumbnailer turns one video file into still frames: it builds a
// filter graph for the file, reroutes the video branch into the sample
// renderer, cuts the other branches and seeks through eight fixed positions
// until a frame is not too dark (ThumbnailFile), or opens the file once and
// captures the frame at each position asked in turn (OpenFile, CaptureAt).
// One object per request; the server reads BitmapInfo and Bits after each
// frame.
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

  // The first steps of ThumbnailFile: the graph for the file, spliced and
  // ready to seek. 1, or 0 with the reason in Failure.
  int OpenFile(const char* path);

  enum class Capture { kFrame, kNone, kFailed };
  // After OpenFile: the frame shown at `position` (100 ns units; at or past
  // the end, the last one), or with keyFrame the key frame at or before it,
  // which only key frames are decoded to reach. FramePosition is then the
  // frame's own time. kNone when nothing there decoded (the next position
  // may); kFailed, with the reason in Failure, when the graph stopped
  // working.
  Capture CaptureAt(LONGLONG position, bool keyFrame);

  // The video's duration in 100 ns units, -1 when the graph cannot tell.
  LONGLONG Duration();
  // The codecs of the file's video and audio, as the graph names them;
  // empty where it cannot.
  void CodecNames(char* video, char* audio, DWORD bytes);

  // Set before ThumbnailFile to walk forward from this position (the
  // position, then 0.5, 1, 2, 4, 8, 15 and 30 s after it) instead of the
  // eight fixed ones. Unset, the fixed walk is made.
  std::optional<WalkStart> Start;
  // Set before ThumbnailFile to take the file's cover picture, when the
  // graph offers one, instead of a frame of its video.
  bool PreferCover = false;
  // Set before ThumbnailFile or OpenFile: every frame is scaled, aspect
  // kept, so that its longer edge is at most this many pixels; 0 keeps
  // frames at their own size. Done before colour conversion where the
  // converter can, else on the bitmap.
  ULONG LongerEdge = 0;
  // The size of the video's picture as shown (turned, square pixels), before
  // any scaling; known once OpenFile succeeded.
  LONG ShownWidth = 0;
  LONG ShownHeight = 0;
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
  // Runs the graph to its next frame and captures it: false, traced, when
  // the graph does not run or complete.
  bool RunOnce();
  // Scales the frame bitmap down within LongerEdge when it is larger, as a
  // converter that could not scale left it.
  void FitFrameWithin();
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
