#pragma once
// IKsTopologyInfo: the topology of a Kernel Streaming filter (for a USB Video
// Class device, its units and terminals as nodes). mingw-w64 ships no
// vidcap.h, so the interface is declared here in its documented vtable
// order. Its IID is nerova::link::IID_IKsTopologyInfo
// {720D4AC0-7533-11D0-A5D6-28DB04C10000}.
#include <windows.h>

#include <ks.h>
#include <ksproxy.h>

#if defined(__has_include)
#if __has_include(<vidcap.h>)
#define NEROVA_HAVE_VIDCAP_H 1
#endif
#endif

#ifdef NEROVA_HAVE_VIDCAP_H
#include <vidcap.h>
#else
struct IKsTopologyInfo : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE get_NumCategories(DWORD* pdwNumCategories) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Category(DWORD dwIndex, GUID* pCategory) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_NumConnections(DWORD* pdwNumConnections) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_ConnectionInfo(DWORD dwIndex,
                                                       KSTOPOLOGY_CONNECTION* pConnectionInfo) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_NodeName(DWORD dwNodeId, WCHAR* pwchNodeName,
                                                 DWORD dwBufSize, DWORD* pdwNameLen) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_NumNodes(DWORD* pdwNumNodes) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_NodeType(DWORD dwNodeId, GUID* pNodeType) = 0;
  virtual HRESULT STDMETHODCALLTYPE CreateNodeInstance(DWORD dwNodeId, REFIID iid,
                                                       void** ppvObject) = 0;
};
#endif
