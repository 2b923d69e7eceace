#pragma once
// The body the XML file fuzz targets share: whatever the input, loading either fails with an
// exception or fills a fresh object; a loaded object saves, and from the second save on saving
// and loading again give the same text (the first save may still change typed values).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "FuzzSupport.h"
#include "framework/io/Stream.h"
#include "lib/game/XmlDocument.h"

namespace quorvel::fuzz {

template <class T>
bool ReadXml(const std::string& AText, T* AObject) {
  TOwned<TBytesStream> in(New<TBytesStream>(TBytes(AText.begin(), AText.end())));
  try {
    AObject->LoadFromStream(in.get());
  } catch (const Exception&) {
    return false;
  }
  return true;
}

template <class T>
bool WriteXml(T* AObject, std::string& AText) {
  TOwned<TBytesStream> out(New<TBytesStream>());
  try {
    AObject->SaveToStream(out.get());
  } catch (const EMz_XmlStoringError&) {
    return false;  // texts no XML form can hold are refused, not written
  }
  const TBytes& bytes = out->GetBytes();
  AText.assign(bytes.begin(), bytes.begin() + out->GetSize());
  return true;
}

// AMustReadBack(first) says whether the first save of what was loaded has to load again.
template <class T, class F>
int XmlRoundTrip(const uint8_t* AData, size_t ASize, F AMustReadBack) {
  InitializeOnce();
  const std::string text(reinterpret_cast<const char*>(AData), ASize);
  TOwned<T> first(New<T>(nullptr));
  if (!ReadXml(text, first.get())) return 0;
  std::string saved1, saved2, saved3;
  if (!WriteXml(first.get(), saved1)) return 0;
  TOwned<T> second(New<T>(nullptr));
  if (!ReadXml(saved1, second.get())) {
    if (AMustReadBack(first.get())) std::abort();
    return 0;
  }
  if (!WriteXml(second.get(), saved2)) std::abort();
  TOwned<T> third(New<T>(nullptr));
  if (!ReadXml(saved2, third.get()) || !WriteXml(third.get(), saved3) || saved2 != saved3) std::abort();
  return 0;
}

}  // namespace quorvel::fuzz
