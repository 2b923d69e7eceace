#pragma once
// The dialogue system's XML file: TQuorvelDialogueWriter builds the element tree of a system
// and saves it beautified; TQuorvelDialogueReader adds the dialogues of a file to a system.
// Identifiers and names are taken as written ("007" stays "007"); parameter values are typed
// as the node's value gives them.
#include <functional>
#include <string>

#include "framework/io/Stream.h"
#include "framework/rtl/Exceptions.h"
#include "lib/game/DialogueSystem.h"

namespace quorvel {

class TMz_XmlDocument;
class TMz_XmlElement;

QUORVEL_EXCEPTION(EQuorvelDialogueReaderException, Exception);

class TQuorvelDialogueReader : public TObject {
public:
  // Deeper item nesting is refused: the model walks its trees recursively.
  static constexpr int MaxItemDepth = 512;

  // A new system without owner (the caller frees it), filled by AddFromStream.
  TQuorvelDialogueSystem* LoadFromStream(TStream* AStream);
  TQuorvelDialogueSystem* LoadFromFile(const std::string& AFileName);
  // Adds the file's dialogues; Id and Language are overwritten. What was added before a
  // failure stays.
  void AddFromStream(TStream* AStream, TQuorvelDialogueSystem* ASystem);
  void AddFromFile(const std::string& AFileName, TQuorvelDialogueSystem* ASystem);

private:
  void ReadDialogue(TMz_XmlElement* ANode);
  void ReadCharacter(TMz_XmlElement* ANode, TPersistent* AParent);
  void ReadItem(TMz_XmlElement* ANode, TPersistent* AParent, int ADepth);
  void ReadEvent(TMz_XmlElement* ANode, TQuorvelDialogueItem* AItem);

  TQuorvelDialogueSystem* FSystem = nullptr;
  TMz_XmlDocument* FDocument = nullptr;
};

class TQuorvelDialogueWriter : public TObject {
public:
  TQuorvelDialogueWriter();
  // Nothing when either is nil.
  void SaveToStream(TQuorvelDialogueSystem* ASystem, TStream* AStream);
  // Replaces the file only once the whole text is made: a failed save keeps the old file.
  void SaveToFile(TQuorvelDialogueSystem* ASystem, const std::string& AFileName);

private:
  // Builds the document and hands it to AWrite (which saves it).
  void Write(TQuorvelDialogueSystem* ASystem, const std::function<void(TMz_XmlDocument*)>& AWrite);
  void WriteDialogue(TQuorvelDialogue* ADialogue, TMz_XmlElement* AParent);
  void WriteItem(TQuorvelDialogueItem* AItem, TMz_XmlElement* AParent);
  void WriteEvent(TQuorvelDialogueItemEvent* AEvent, TMz_XmlElement* AParent);
  void WriteCommon(TQuorvelDialogueCustomItem* AItem, TMz_XmlElement* ANode, bool AWithPosition);
  void WriteParams(TQuorvelDialogueParameters* AParams, TMz_XmlElement* AParent);

  TFormatSettings FFormat;
  TQuorvelDialogueSystem* FSystem = nullptr;
  TMz_XmlDocument* FDocument = nullptr;
};

}  // namespace quorvel
