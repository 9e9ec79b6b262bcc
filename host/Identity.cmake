# What the plug-in declares to its hosts. These values never change between
# builds: hosts key saved projects on the codes, the LV2 URI and the VST3 class ID.
set(TESSAMUNE_PRODUCT_NAME     "Tessamune")
set(TESSAMUNE_DESCRIPTION      "Tessamune")
set(TESSAMUNE_COMPANY_NAME     "Quorvellin")
set(TESSAMUNE_COMPANY_WEBSITE  "https://quorvellin.com")
set(TESSAMUNE_MANUFACTURER_CODE Qrvn)
set(TESSAMUNE_PLUGIN_CODE       Qtsa)
set(TESSAMUNE_LV2_URI          "https://quorvellin.com/plugins/tessamune")
