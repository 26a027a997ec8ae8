// The bank's two fixed addresses, kept in one place. ASCII only: read by the
// C++ sources and by the resource script.
#pragma once

// Written into a key's web pop-up file by the label page, opened at insertion.
#define QRVL_ONLINE_BANKING_URL  "https://ebank.quorvel-bank.example/"
// The About box's link caption: a host name without scheme, opened with the shell.
#define QRVL_BANK_SITE_HOST      "www.quorvel-bank.example"
