# What the plug-in declares to its hosts. These values never change between
# builds: hosts key saved projects on the codes, the LV2 URI and the VST3 class ID.
set(TESSAMUNE_PRODUCT_NAME     "Tessamune")
set(TESSAMUNE_DESCRIPTION      "Tessamune")
set(TESSAMUNE_COMPANY_NAME     "Quorvellin")
set(TESSAMUNE_COMPANY_WEBSITE  "https://quorvellin.com")
set(TESSAMUNE_MANUFACTURER_CODE Qrvn)
set(TESSAMUNE_PLUGIN_CODE       Qtsa)
set(TESSAMUNE_LV2_URI          "https://quorvellin.com/plugins/tessamune")

# The LV2 plug-in class written into the bundle next to lv2:Plugin.
set(TESSAMUNE_LV2_CLASS        "lv2:ChorusPlugin")

# Channel configurations (inputs, outputs) offered wherever a host can choose
# among them, most preferred first. The processor accepts exactly these.
# Stereo comes first: a VST3 opens in the first configuration, and a host that
# finds it mono runs one copy per channel of a stereo track (Ardour does),
# which loses the chorus's left/right difference.
set(TESSAMUNE_CHANNEL_CONFIGURATIONS "{2, 2}, {1, 1}, {1, 2}")

# The one layout of formats that carry a single fixed layout (LV2), and the
# layout the standalone application opens with.
set(TESSAMUNE_FIXED_INPUTS  2)
set(TESSAMUNE_FIXED_OUTPUTS 2)
