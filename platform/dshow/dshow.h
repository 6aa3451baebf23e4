// The DirectShow-style interfaces and records the grabber works with. Each
// interface declares the methods of the Windows interface that this program
// and its graph use, with the Windows names and parameter lists.
#pragma once

#include "platform/com/com_runtime.h"
#include "platform/dshow/guids.h"

#ifdef _WIN32

// The system's DirectShow interfaces and records. strsafe.h, which they
// include, would otherwise rename the C string functions.
#ifndef STRSAFE_NO_DEPRECATE
#define STRSAFE_NO_DEPRECATE
#endif
#include <dshow.h>

#else

using REFERENCE_TIME = LONGLONG;
using OAHWND = LONG_PTR;
using OAEVENT = LONG_PTR;
using OAFilterState = LONG;

class IBaseFilter;
class IFilterGraph;
class IPin;

struct AM_MEDIA_TYPE {
  GUID majortype;
  GUID subtype;
  BOOL bFixedSizeSamples;
  BOOL bTemporalCompression;
  ULONG lSampleSize;
  GUID formattype;
  IUnknown* pUnk;
  ULONG cbFormat;
  BYTE* pbFormat;
};

struct VIDEOINFOHEADER {
  RECT rcSource;
  RECT rcTarget;
  DWORD dwBitRate;
  DWORD dwBitErrorRate;
  REFERENCE_TIME AvgTimePerFrame;
  BITMAPINFOHEADER bmiHeader;
};
static_assert(sizeof(VIDEOINFOHEADER) == 88);
static_assert(offsetof(VIDEOINFOHEADER, bmiHeader) == 48);

struct WAVEFORMATEX {
  WORD wFormatTag;
  WORD nChannels;
  DWORD nSamplesPerSec;
  DWORD nAvgBytesPerSec;
  WORD nBlockAlign;
  WORD wBitsPerSample;
  WORD cbSize;
};

enum PIN_DIRECTION { PINDIR_INPUT = 0, PINDIR_OUTPUT = 1 };

constexpr int MAX_PIN_NAME = 128;
constexpr int MAX_FILTER_NAME = 128;

struct PIN_INFO {
  IBaseFilter* pFilter;  // one reference, released by the receiver
  PIN_DIRECTION dir;
  WCHAR achName[MAX_PIN_NAME];
};

struct FILTER_INFO {
  WCHAR achName[MAX_FILTER_NAME];
  IFilterGraph* pGraph;  // one reference (or null), released by the receiver
};

enum FILTER_STATE { State_Stopped = 0, State_Paused = 1, State_Running = 2 };

constexpr LONG EC_COMPLETE = 0x01;
constexpr LONG EC_USERABORT = 0x02;
constexpr LONG EC_ERRORABORT = 0x03;

constexpr DWORD AM_SEEKING_NoPositioning = 0x0;
constexpr DWORD AM_SEEKING_AbsolutePositioning = 0x1;
constexpr DWORD AM_SEEKING_RelativePositioning = 0x2;
constexpr DWORD AM_SEEKING_PositioningBitsMask = 0x3;
constexpr DWORD AM_SEEKING_SeekToKeyFrame = 0x4;

class IPin : public IUnknown {
 public:
  // Fills *pInfo; pInfo->pFilter carries a reference.
  virtual HRESULT QueryPinInfo(PIN_INFO* pInfo) = 0;
  virtual HRESULT QueryDirection(PIN_DIRECTION* pPinDir) = 0;
  // The pin at the other end, with a reference; VFW_E_NOT_CONNECTED and a
  // null *pPin when unconnected.
  virtual HRESULT ConnectedTo(IPin** pPin) = 0;
  // The connection's type, deep-copied into *pmt (the caller frees its
  // format block); VFW_E_NOT_CONNECTED when unconnected.
  virtual HRESULT ConnectionMediaType(AM_MEDIA_TYPE* pmt) = 0;

 protected:
  ~IPin() = default;
};

class IEnumPins : public IUnknown {
 public:
  // S_OK when cPins were fetched, S_FALSE when fewer; each pin carries a
  // reference. pcFetched may be null only when cPins is 1.
  virtual HRESULT Next(ULONG cPins, IPin** ppPins, ULONG* pcFetched) = 0;
  // S_FALSE when fewer than cPins were left to skip.
  virtual HRESULT Skip(ULONG cPins) = 0;
  virtual HRESULT Reset() = 0;
  virtual HRESULT Clone(IEnumPins** ppEnum) = 0;

 protected:
  ~IEnumPins() = default;
};

class IBaseFilter : public IUnknown {
 public:
  virtual HRESULT EnumPins(IEnumPins** ppEnum) = 0;
  virtual HRESULT QueryFilterInfo(FILTER_INFO* pInfo) = 0;
  // Called by the graph when the filter is added (graph set) or removed
  // (graph null). The filter keeps no reference on the graph.
  virtual HRESULT JoinFilterGraph(IFilterGraph* pGraph, LPCWSTR pName) = 0;

 protected:
  ~IBaseFilter() = default;
};

class IEnumFilters : public IUnknown {
 public:
  virtual HRESULT Next(ULONG cFilters, IBaseFilter** ppFilter, ULONG* pcFetched) = 0;
  virtual HRESULT Reset() = 0;

 protected:
  ~IEnumFilters() = default;
};

class IFilterGraph : public IUnknown {
 public:
  virtual HRESULT AddFilter(IBaseFilter* pFilter, LPCWSTR pName) = 0;
  virtual HRESULT RemoveFilter(IBaseFilter* pFilter) = 0;
  virtual HRESULT EnumFilters(IEnumFilters** ppEnum) = 0;
  virtual HRESULT Disconnect(IPin* ppin) = 0;

 protected:
  ~IFilterGraph() = default;
};

class IGraphBuilder : public IFilterGraph {
 public:
  // Connects an output pin to an input pin, inserting nothing. A null pin
  // fails with E_POINTER and changes nothing.
  virtual HRESULT Connect(IPin* ppinOut, IPin* ppinIn) = 0;
  virtual HRESULT RenderFile(LPCWSTR lpcwstrFile, LPCWSTR lpcwstrPlayList) = 0;

 protected:
  ~IGraphBuilder() = default;
};

class IMediaControl : public IUnknown {
 public:
  virtual HRESULT Run() = 0;
  virtual HRESULT Pause() = 0;
  virtual HRESULT Stop() = 0;
  virtual HRESULT GetState(LONG msTimeout, OAFilterState* pfs) = 0;

 protected:
  ~IMediaControl() = default;
};

class IMediaEventEx : public IUnknown {
 public:
  // S_OK with *pEvCode EC_COMPLETE once every connected renderer reached end
  // of stream; E_ABORT when msTimeout (INFINITE: none) ran out first.
  virtual HRESULT WaitForCompletion(LONG msTimeout, LONG* pEvCode) = 0;
  virtual HRESULT SetNotifyWindow(OAHWND hwnd, LONG lMsg, LONG_PTR lInstanceData) = 0;

 protected:
  ~IMediaEventEx() = default;
};

class IMediaSeeking : public IUnknown {
 public:
  virtual HRESULT GetDuration(LONGLONG* pDuration) = 0;
  virtual HRESULT GetCurrentPosition(LONGLONG* pCurrent) = 0;
  virtual HRESULT SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop, DWORD dwStopFlags) = 0;

 protected:
  ~IMediaSeeking() = default;
};

#endif  // _WIN32

// The sample renderer component's control interface, in its slot order.
class ISampleRendererControl : public IUnknown {
 public:
  // The type the input pin is to accept; the caller keeps what it passes.
  virtual HRESULT put_MediaType(AM_MEDIA_TYPE* pType) = 0;
  // The current connection's type, owned by the component.
  virtual HRESULT get_MediaType(AM_MEDIA_TYPE** ppType) = 0;
  virtual HRESULT SetOneShot(BOOL oneShot) = 0;
  virtual HRESULT SetBufferSamples(BOOL buffer) = 0;
  // With a null buffer stores the buffered sample's size in *pBufferSize;
  // with a buffer copies at most *pBufferSize bytes of it. Fails while
  // nothing is buffered.
  virtual HRESULT GetCurrentBuffer(LONG* pBufferSize, BYTE* pBuffer) = 0;
  // The buffered sample's presentation time from the start of the media,
  // in 100 ns units. Fails while nothing is buffered or its time is unknown.
  virtual HRESULT GetBufferedTime(LONGLONG* pTime) = 0;

 protected:
  ~ISampleRendererControl() = default;
};
