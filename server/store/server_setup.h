// SPDX-License-Identifier: MIT
#pragma once
// What a server's database needs before anything is served from it: the
// server key that opens its stored passwords, and a first catalogue.
// Functions over the stores given; call them from one thread.

#include <string>

#include "server/store/account_store.h"
#include "server/store/catalogue_store.h"
#include "server/store/password_vault.h"

namespace vantrel::server {

// Opens the server key beside the database (or at keyFile), creating it for
// a database without accounts; refuses a missing or foreign key when there
// are accounts. For the server and the operator's commands alike.
bool openServerKey(AccountStore& accounts, PasswordVault& vault, const std::string& dbPath,
                   const std::string& keyFile, std::string& error);

// Fills an empty catalogue with a few top-level categories that hold groups,
// so that clients can create groups (their personal one too) on a new
// database. False when it was not empty.
bool fillDefaultCatalogue(CatalogueStore& catalogue);

// Fills an empty catalogue with categories, groups of every membership policy
// and download permission, and directories. False when it was not empty.
bool fillDemoCatalogue(CatalogueStore& catalogue);

}  // namespace vantrel::server
