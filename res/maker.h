/* The maker's texts, shared by the resource script (About page, version block) and the code
   (the web address that "Visit Website" opens). Plain #defines so windres can read them. */
#ifndef KLP_MAKER_H
#define KLP_MAKER_H

#define KLP_MAKER_NAME          "KLP Config Project"
#define KLP_MAKER_COPYRIGHT     "Copyright (C) 2026 KLP Config Project"
#define KLP_MAKER_WEB_ADDRESS   "https://klpconfig.example/"
#define KLP_MAKER_PRODUCT_LINE  "KLP Config Project Kelpro unit - Configuration application"

#endif
