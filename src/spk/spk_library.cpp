// Anchor of the SPK library; its parts live beside this file.
namespace tarvex::spk {}
