// SPDX-License-Identifier: MIT
#include "transfers/group_entry.h"

#include "core/archive_reader.h"
#include "core/archive_writer.h"

namespace vantrel {

CGroupEntry CGroupEntry::fromListing(const GroupEntry& listed) {
  CGroupEntry entry;
  entry.id = listed.id;
  entry.name = listed.name;
  entry.ownerId = listed.ownerId;
  entry.status = listed.status;
  entry.membershipPolicy = listed.memb;
  entry.downloadPermission = listed.perm;
  entry.personal = listed.personal;
  entry.fileCountA = listed.fileCount;
  entry.fileCountB = listed.fileCountOther;
  entry.memberCount = listed.fileCountOther;  // the server's number after ":" counts the members
  entry.secondNumber = listed.pending ? kPendingApplication : 0;
  entry.childrenFetched = listed.children.empty() ? 0 : 1;
  return entry;
}

GroupEntry CGroupEntry::toListing() const {
  GroupEntry listed;
  listed.id = id;
  listed.name = name;
  listed.ownerId = ownerId;
  listed.status = status;
  listed.memb = membershipPolicy;
  listed.perm = downloadPermission;
  listed.personal = personal;
  listed.fileCount = fileCountA;
  listed.fileCountOther = memberCount != 0 ? memberCount : fileCountB;
  listed.pending = secondNumber == kPendingApplication;
  listed.password = password;
  listed.description = description;
  listed.keywords = keywords;
  return listed;
}

void CGroupEntry::store(ArchiveWriter& out) const {
  out.writeString(name);
  out.writeString(secondText);
  out.writeI32(secondNumber);
  out.writeI32(id);
  out.writeI32(entryType);
  out.writeI32(status);
  out.writeI32(membershipPolicy);
  out.writeI32(downloadPermission);
  out.writeI32(fileCountB);
  out.writeI32(fileCountA);
  out.writeI32(memberCount);
  out.writeI32(expandable);
}

void CGroupEntry::load(ArchiveReader& in) {
  name = in.readString();
  secondText = in.readString();
  secondNumber = in.readI32();
  id = in.readI32();
  entryType = in.readI32();
  status = in.readI32();
  membershipPolicy = in.readI32();
  downloadPermission = in.readI32();
  fileCountB = in.readI32();
  fileCountA = in.readI32();
  memberCount = in.readI32();
  expandable = in.readI32();
}

std::string_view membershipPolicyLabel(int32_t policy) {
  switch (policy) {
    case membership::kApply:
      return "Apply";
    case membership::kPassword:
      return "Password";
    case membership::kApplyOrPassword:
      return "Apply/Password";
    case membership::kDenyAll:
      return "Deny All";
    case membership::kAdmitAll:
      return "Admit All";
    default:
      return "Unknown";
  }
}

std::string_view groupStatusLabel(const GroupEntry& group) {
  switch (group.status) {
    case group_status::kOwner:
      return "Owner";
    case group_status::kAdministrator:
      return "Administrator";
    case group_status::kMember:
      return "Member";
    default:
      return group.pending ? "Pending" : membershipPolicyLabel(group.memb);
  }
}

GroupWizardChoice GroupWizardChoice::forEntry(const CGroupEntry& entry) {
  GroupWizardChoice choice;
  choice.name = entry.name;
  choice.password = entry.password;
  choice.confirmation = entry.password;
  if (entry.membershipPolicy == membership::kApply) {
    choice.membership = Membership::Apply;
  } else if (entry.membershipPolicy == membership::kPassword) {
    choice.membership = Membership::RequirePassword;
  } else {
    choice.membership = Membership::AcceptAll;
  }
  choice.download = entry.downloadPermission == kPublicDownload ? Download::Public : Download::Member;
  return choice;
}

std::string GroupWizardChoice::problem() const {
  if (name.size() < 4) return "Group name must be at least 4 characters";
  if (membership == Membership::RequirePassword) {
    if (password.size() < 4) return "Password must be at least 4 characters";
    if (password != confirmation) return "Password and confirmed password do not match";
  }
  return {};
}

void GroupWizardChoice::applyTo(CGroupEntry& entry) const {
  entry.name = name;
  switch (membership) {
    case Membership::AcceptAll:
      entry.membershipPolicy = membership::kAdmitAll;
      break;
    case Membership::Apply:
      entry.membershipPolicy = membership::kApply;
      break;
    case Membership::RequirePassword:
      entry.membershipPolicy = membership::kPassword;
      entry.password = password;
      break;
  }
  // A group created as public downloads is marked so; a fresh entry (0) keeps
  // the server's default, which is public as well.
  if (download == Download::Public && entry.downloadPermission != 0) entry.downloadPermission = kPublicDownload;
  if (download == Download::Member && entry.downloadPermission == kPublicDownload) entry.downloadPermission = 1;
}

}  // namespace vantrel
