// SPDX-License-Identifier: MIT
#pragma once
// CGroupEntry: a group the client knows — the record of the group cache file,
// the group entry of catalogue listings and the data of a group to create —
// with the membership-policy labels and the create-group wizard's rules.
// A plain value; not thread-safe by itself (GroupCache guards the ones it holds).

#include <cstdint>
#include <string>
#include <string_view>

#include "core/archive_object.h"
#include "protocol/catalogue_listing.h"

namespace vantrel {

// membershipPolicy values.
namespace membership {
inline constexpr int32_t kApply = 0;
inline constexpr int32_t kPassword = 1;
inline constexpr int32_t kApplyOrPassword = 2;
inline constexpr int32_t kDenyAll = 3;
inline constexpr int32_t kAdmitAll = 4;
}  // namespace membership

// status values: the user's relation to the group.
namespace group_status {
inline constexpr int32_t kOwner = 1;
inline constexpr int32_t kMember = 2;
inline constexpr int32_t kAdministrator = 3;
}  // namespace group_status

inline constexpr int32_t kPublicDownload = 2;  // downloadPermission
inline constexpr int32_t kPendingApplication = 1;  // secondNumber

class CGroupEntry : public ArchiveObject {
 public:
  static constexpr ArchiveClass kArchiveClass{"CGroupEntry", 1};
  static constexpr int32_t kEntryType = 2;

  // The listing part.
  int32_t id = 0;
  int32_t entryType = kEntryType;
  int32_t childrenFetched = 0;

  // The stored part.
  std::string name;
  std::string secondText;
  // kPendingApplication: the user applied to join and the owner has not
  // decided yet (the server lists only groups one belongs to).
  int32_t secondNumber = 0;
  int32_t ownerId = 0;
  int32_t status = 0;
  int32_t membershipPolicy = membership::kApply;
  int32_t downloadPermission = 0;
  bool personal = false;
  std::string password;  // for creating a group only
  std::string description;
  std::string keywords;
  int32_t fileCountB = 0;  // "filecount" after ":"
  int32_t fileCountA = 0;  // "filecount" before ":", shown as "Files"
  int32_t memberCount = 0;
  int32_t expandable = 1;

  // The group of a listing reply.
  static CGroupEntry fromListing(const GroupEntry& listed);
  // The data a creategroup request sends.
  GroupEntry toListing() const;

  ArchiveClass archiveClass() const override { return kArchiveClass; }
  // The body as the group cache file holds it (no class tag).
  void store(ArchiveWriter& out) const override;
  void load(ArchiveReader& in) override;
};

// "Apply", "Password", "Apply/Password", "Deny All", "Admit All" or "Unknown".
std::string_view membershipPolicyLabel(int32_t policy);
// The "Status" of a group in the lists: the user's membership where there is
// one ("Owner", "Administrator", "Member", "Pending"), else the policy label.
std::string_view groupStatusLabel(const GroupEntry& group);

// The create-group wizard's choices and checks.
struct GroupWizardChoice {
  enum class Membership { AcceptAll, Apply, RequirePassword };
  enum class Download { Public, Member };

  Membership membership = Membership::AcceptAll;
  Download download = Download::Public;
  std::string name;
  std::string password;
  std::string confirmation;

  // The choices the wizard preselects for an existing entry.
  static GroupWizardChoice forEntry(const CGroupEntry& entry);
  // The message to show (title "Error") when the pages cannot be accepted, or "".
  std::string problem() const;
  // Writes the choices into the entry passed to creategroup.
  void applyTo(CGroupEntry& entry) const;
};

}  // namespace vantrel
