# SPDX-License-Identifier: MIT
# The Ed25519 public key that the launcher checks update signatures against,
# built into the program. A publisher gives its own with
# -DVANTREL_UPDATE_PUBLIC_KEY=<64 hex digits> (vantrel-sign-update --public-key
# prints it for a private key). Without one, the build folder gets a key pair of
# its own on the first configure: its private half, update-key/private.pem,
# signs updates for the programs of this build folder only.
set(VANTREL_UPDATE_PUBLIC_KEY "" CACHE STRING
    "Ed25519 public key (64 hex digits) that client updates must be signed with; empty: a key made for this build folder")
set(VANTREL_UPDATE_PRIVATE_KEY "")
if(VANTREL_UPDATE_PUBLIC_KEY)
  if(NOT VANTREL_UPDATE_PUBLIC_KEY MATCHES "^[0-9a-f]+$")
    message(FATAL_ERROR "VANTREL_UPDATE_PUBLIC_KEY must be 64 lower-case hex digits")
  endif()
  string(LENGTH "${VANTREL_UPDATE_PUBLIC_KEY}" key_length)
  if(NOT key_length EQUAL 64)
    message(FATAL_ERROR "VANTREL_UPDATE_PUBLIC_KEY must be 64 lower-case hex digits")
  endif()
  set(VANTREL_UPDATE_KEY_HEX ${VANTREL_UPDATE_PUBLIC_KEY})
else()
  find_program(VANTREL_OPENSSL_PROGRAM openssl REQUIRED)
  set(key_dir ${CMAKE_BINARY_DIR}/update-key)
  set(VANTREL_UPDATE_PRIVATE_KEY ${key_dir}/private.pem)
  if(NOT EXISTS ${VANTREL_UPDATE_PRIVATE_KEY})
    file(MAKE_DIRECTORY ${key_dir})
    execute_process(COMMAND ${VANTREL_OPENSSL_PROGRAM} genpkey -algorithm ED25519 -out private.pem
                    WORKING_DIRECTORY ${key_dir} RESULT_VARIABLE made OUTPUT_QUIET ERROR_QUIET)
    if(NOT made EQUAL 0)
      message(FATAL_ERROR "openssl could not make the update signing key in ${key_dir}")
    endif()
    file(CHMOD ${VANTREL_UPDATE_PRIVATE_KEY} FILE_PERMISSIONS OWNER_READ OWNER_WRITE)
    message(STATUS "Made the update signing key of this build folder: ${VANTREL_UPDATE_PRIVATE_KEY}")
  endif()
  execute_process(COMMAND ${VANTREL_OPENSSL_PROGRAM} pkey -in private.pem -pubout -outform DER -out public.der
                  WORKING_DIRECTORY ${key_dir} RESULT_VARIABLE read_key OUTPUT_QUIET ERROR_QUIET)
  if(NOT read_key EQUAL 0)
    message(FATAL_ERROR "openssl could not read the update signing key ${VANTREL_UPDATE_PRIVATE_KEY}")
  endif()
  # The DER form of an Ed25519 public key ends in the 32 raw key bytes.
  file(READ ${key_dir}/public.der der HEX)
  string(LENGTH "${der}" der_length)
  math(EXPR key_start "${der_length} - 64")
  string(SUBSTRING "${der}" ${key_start} 64 VANTREL_UPDATE_KEY_HEX)
endif()
